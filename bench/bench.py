"""Times tarnwick against rpcclient on the same private smbd.

Run through run.sh, which gives this script its own network, mount and PID
namespaces. Runs of the programs are interleaved so that any drift of the
machine during the run falls on all of them alike. Prints a markdown table
and writes it to results.md beside this file.
"""
import os
import platform
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from sandbox import SERVER_ADDRESS, LocalSamba, PrivateSmbd, bring_up_loopback  # noqa: E402

BINARY = sys.argv[1]
RUNS = int(os.environ.get("BENCH_RUNS", "40"))
WARMUP = 3

PROGRAMS = {
    "tarnwick display": [BINARY, f"\\\\{SERVER_ADDRESS}"],
    "rpcclient srvinfo": ["rpcclient", "-U%", "-c", "srvinfo", SERVER_ADDRESS],
    "tarnwick /?": [BINARY, "/?"],
    # What starting any process costs here: the floor under every other row.
    "/bin/true": ["/bin/true"],
}
SERVER_PROGRAMS = ("tarnwick display", "rpcclient srvinfo")
START_PROGRAMS = ("tarnwick /?", "/bin/true")


def spawn(argv, env):
    with open(os.devnull, "wb") as null:
        actions = [(os.POSIX_SPAWN_OPEN, 0, os.devnull, os.O_RDONLY, 0),
                   (os.POSIX_SPAWN_DUP2, null.fileno(), 1),
                   (os.POSIX_SPAWN_DUP2, null.fileno(), 2)]
        start = time.perf_counter()
        pid = os.posix_spawnp(argv[0], argv, env, file_actions=actions, setsid=True)
        _, status, usage = os.wait4(pid, 0)
        return time.perf_counter() - start, usage, os.waitstatus_to_exitcode(status)


def measure(argv, env, scratch):
    """One run: wall seconds, CPU seconds (user + system), peak RSS in KiB, exit status.

    Wall and CPU come from a direct spawn. The peak RSS does not: a child
    spawned from this process is charged with this interpreter's own peak, so
    it is taken in a second run under GNU time, whose own peak is about 1 MiB.
    """
    wall, usage, code = spawn(argv, env)
    report = os.path.join(scratch, "rss")
    spawn(["/usr/bin/time", "-f", "%M", "-o", report, *argv], env)
    with open(report) as f:
        rss = int(f.read().split()[-1])
    return wall, usage.ru_utime + usage.ru_stime, rss, code


def main():
    load = os.getloadavg()
    with tempfile.TemporaryDirectory(prefix="tarnwick-bench.") as root:
        home = os.path.join(root, "home")
        os.makedirs(home)
        env = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "HOME": home}
        bring_up_loopback()
        LocalSamba(os.path.join(root, "local")).use_text_config("BENCHCLIENT", "Client")
        smbd = PrivateSmbd(os.path.join(root, "smbd"))
        try:
            samples = {name: [] for name in PROGRAMS}
            # The server pair first, then the start-up pair on their own: after
            # each connection smbd's child winds down on the other core, which
            # would otherwise land on whatever runs next.
            for group in (SERVER_PROGRAMS, START_PROGRAMS):
                if group is START_PROGRAMS:
                    smbd.stop()
                for i in range(WARMUP + RUNS):
                    for name in group:
                        result = measure(PROGRAMS[name], env, root)
                        if i >= WARMUP:
                            samples[name].append(result)
        finally:
            smbd.stop()

    def medians(name):
        runs = samples[name]
        return tuple(statistics.median(r[k] for r in runs) for k in range(3))

    display, rpc, usage, floor = (medians(name) for name in PROGRAMS)
    codes = {name: ", ".join(str(c) for c in sorted({r[3] for r in runs}))
             for name, runs in samples.items()}

    lines = [
        f"Median of {RUNS} interleaved runs each (after {WARMUP} warm-up rounds), "
        f"against a private smbd on {SERVER_ADDRESS}.",
        f"Machine: {os.cpu_count()} cores, {platform.machine()}, "
        f"{subprocess.run(['smbd', '--version'], capture_output=True, text=True).stdout.strip()}, "
        f"load average {load[0]:.2f} at the start and {os.getloadavg()[0]:.2f} at the end "
        "(wall times grow with it; the paired ratios much less).",
        "",
        "| program | wall (ms) | CPU user+sys (ms) | peak RSS (KiB) | exit statuses |",
        "| --- | ---: | ---: | ---: | --- |",
    ]
    for name, (wall, cpu, rss) in zip(PROGRAMS, (display, rpc, usage, floor)):
        lines.append(f"| {name} | {wall * 1000:.2f} | {cpu * 1000:.2f} | {rss:.0f} | {codes[name]} |")
    # Each round ran both programs back to back, so the ratio within a round
    # is the one least moved by other load on the machine.
    wall_ratio, cpu_ratio, rss_ratio = (
        statistics.median(d[k] / r[k] for d, r in zip(samples["tarnwick display"],
                                                         samples["rpcclient srvinfo"]))
        for k in range(3))
    lines += [
        "",
        "Ratios are medians of the per-round ratios.",
        "",
        "| comparison | ratio or value | target | met |",
        "| --- | ---: | ---: | --- |",
        f"| display / rpcclient, wall | {wall_ratio:.2f}x | <= 0.90x | {'yes' if wall_ratio <= 0.9 else 'no'} |",
        f"| display / rpcclient, CPU | {cpu_ratio:.2f}x | | |",
        f"| display / rpcclient, peak RSS | {rss_ratio:.2f}x | <= 1.00x | {'yes' if rss_ratio <= 1.0 else 'no'} |",
        f"| /? wall | {usage[0] * 1000:.2f} ms | <= 3 ms | {'yes' if usage[0] <= 0.003 else 'no'} |",
        f"| /? / display, wall | {usage[0] / display[0]:.3f}x | | |",
        f"| /? less /bin/true, wall | {(usage[0] - floor[0]) * 1000:.2f} ms | | |",
    ]
    text = "\n".join(lines) + "\n"
    sys.stdout.write(text)
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "results.md"), "w") as f:
        f.write("# tarnwick benchmark\n\n" + text)


if __name__ == "__main__":
    main()
