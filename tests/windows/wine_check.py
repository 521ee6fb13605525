#!/usr/bin/python3
"""Runs the Windows image under Wine and checks what it does, byte for byte.

Usage: wine_check.py BUILD_WINDOWS_DIR SOURCE_DIR

First a probe: if Wine cannot run a 32-bit console program here (or
TARNWICK_SKIP_WINE is set, for a quick run), prints one
"SKIPPED: reason" line and a closing "0 passed, 0 failed, N skipped" line,
and exits 0. Otherwise runs every case and closes with "N passed, N failed";
exits 1 on any failure.

Wine's NETAPI32 cannot change a comment and Wine has no netmsg.dll, so the
cases that need a chosen record, a chosen failure or a network message text
run beside test-only stand-ins for both, built here from this folder.
"""
import concurrent.futures
import fcntl
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

import pefile

HERE = os.path.dirname(os.path.abspath(__file__))
MINGW = "i686-w64-mingw32-"

# Under user-mode emulation (a kernel without 32-bit support running wine
# through qemu-i386), Wine needs the guest's 4 GiB laid out the way a real
# kernel would: without a reserved guest address space, qemu hands out
# addresses Wine has set aside and Wine stops at the shared user data.
# The setting is read by qemu only and changes nothing on a native kernel.
WINE_ENV = {
    "WINEDEBUG": "-all",
    "WINEARCH": "win32",
    # No offer to install Mono or Gecko, and no desktop menu entries.
    "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
    "QEMU_RESERVED_VA": "0xf7000000",
    "LANG": "C.UTF-8",
    "LC_ALL": "C.UTF-8",
}
PROBE_TEXT = "tarnwick-wine-probe"
# Under emulation one Wine process takes about a minute to start, a Wine
# session's services about five, and making the prefix fifteen. A single run
# that takes longer than RUN_TIMEOUT has hung and fails; when the whole
# budget (TARNWICK_WINE_BUDGET seconds, for CI's clock) is spent first, what
# is left is reported as skipped, with the reason.
RUN_TIMEOUT = 900
DEFAULT_BUDGET = 2700


class BudgetSpent(Exception):
    pass


class Budget:
    def __init__(self, seconds):
        self.seconds = seconds
        self.deadline = time.monotonic() + seconds

    def left(self):
        return self.deadline - time.monotonic()

    def limit(self, timeout):
        """The timeout for the next wait: `timeout`, or less if the budget
        ends sooner. Raises BudgetSpent when nothing is left."""
        left = self.left()
        if left <= 0:
            raise BudgetSpent()
        return min(timeout, left)

    def spent(self):
        return self.left() <= 0


def budget_from_environment():
    text = os.environ.get("TARNWICK_WINE_BUDGET", "")
    return Budget(float(text) if re.fullmatch(r"\d+(\.\d+)?", text) else DEFAULT_BUDGET)


def windows_path(path):
    """The path as a Windows program sees it through Wine's Z: drive."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def crlf(text):
    return text.replace("\n", "\r\n").encode("latin-1")


def usage_screen(product, version):
    return crlf(
        "\n"
        f"\n{product} - version {version}"
        "\n"
        "\nDisplays or changes the comment for the Server service, a description of the"
        "\nserver which is announced to the browse list and displayed in apps such as"
        "\nServer Manager, Network Neighborhood and the NET VIEW command."
        "\n"
        "\n"
        "\nThe syntax of this command is:"
        "\n"
        '\nTarnwick.exe [/SRVCOMMENT:"Description text"] [/y] [\\\\computername]'
        "\n"
        "\n /SRVCOMMENT: allows you to change the comment, otherwise no changes are made."
        '\n "Description text" can be up to 48 characters, and must be enclosed in quotes.'
        "\n"
        "\n /y allows you to set the new comment without being prompted."
        "\n"
        "\n \\\\computername allows you to manage the comment of a remote NT/2000 system."
        "\n"
        "\nThe new comment will not appear in the browse list immediately, it may take up"
        "\nto 30 minutes, depending on the complexity of your network.  Likewise, machines"
        "\nremoved from the network are not immediately removed from the browse list.  For"
        "\nmore information, see Microsoft Knowledge Base articles Q150800 and Q102878."
        "\n"
        "\nThe comment can be set using the NET CONFIG SERVER command, unfortunately this"
        "\ncan also disable auto-tuning.  See Microsoft Knowledge Base article Q128167."
        "\n"
        "\nAn argument of /? or -? displays this syntax and always returns 1."
        "\nA successful completion will return 0."
        "\n"
        "\nVelmora is written and kept by the Velmora contributors."
        "\n")


def display(name, comment):
    return crlf(f"\n\nServer Name:\t\t{name}\nServer Comment:\t\t{comment}\n")


# Wine's own NETAPI32 answers with this machine's name, which the tests do
# not know in advance; everything around it is exact.
WINE_NAME = b"[^\r\n\t]+"
DONE = crlf("\nThe command completed successfully.\n")


def version_strings(exe):
    pe = pefile.PE(exe)
    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for block in info:
            for table in getattr(block, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    return strings


# ---------------------------------------------------------------------------
# Cases run with standard input, output and error redirected: no console.
#
# Each: name, folder ("plain": the image alone; "standin": with the stand-in
# NETAPI32 and netmsg; "standin-nomsg": with the stand-in NETAPI32 only),
# arguments, extra environment, expected status, expected standard output
# and error (bytes, or a compiled pattern that must match whole), and the
# stand-in's expected log lines (None: not looked at).

def redirected_cases(product, version):
    stand_in = {"STANDIN_NAME": "ALPHA", "STANDIN_COMMENT": "Old comment"}
    return [
        dict(name="usage screen, CR LF line ends, status 1",
             folder="plain", args=["/?"], env={}, status=1,
             out=usage_screen(product, version), err=b"", log=None),
        dict(name="local display through Wine's NETAPI32",
             folder="plain", args=[], env={}, status=0,
             out=re.compile(re.escape(display("@", "")).replace(b"@", WINE_NAME) + re.escape(DONE)),
             err=b"", log=None),
        dict(name="quoted argument with a blank is one argument, warned and skipped",
             folder="plain", args=["/bad switch"], env={}, status=87,
             out=re.compile(re.escape(display("@", "")).replace(b"@", WINE_NAME)),
             err=crlf('\nInvalid switch ignored: "/bad switch"'), log=None),
        dict(name="prompt with no console answers no",
             folder="plain", args=["/SRVCOMMENT:New"], env={}, status=240,
             out=re.compile(re.escape(display("@", "")).replace(b"@", WINE_NAME) +
                            re.escape(crlf("\n\nThe Server comment will be changed to 'New'."
                                           "\n\nContinue? (Y/N): \n"))),
             err=b"", log=None),
        dict(name="/Y changes a remote comment; Latin-1 out, full UTF-16 to the call",
             folder="standin", args=["/SRVCOMMENT:Caf\u00e9 \u03a9 ok", "/y", "\\\\PEER"],
             env=stand_in, status=0,
             out=display("ALPHA", "Old comment") +
             b"\r\nNew Server Comment:\tCaf\xe9 ? ok\r\n" + DONE,
             err=b"",
             log=["get|\\\\PEER|101|(null)", "free|record|(null)|(null)",
                  "set|\\\\PEER|1005|Caf\u00e9 \u03a9 ok"]),
        dict(name="refused change: its status and the system's text",
             folder="standin", args=["/SRVCOMMENT:Denied", "/Y"],
             env=dict(stand_in, STANDIN_SET_STATUS="5"), status=5,
             out=display("ALPHA", "Old comment"),
             # Wine's own wording; its CR LF end gains a CR as above.
             err=re.compile(re.escape(crlf("\n\nSystem error 5 has occurred.\n\n")) +
                            b"[^\r\n]+\r\r\n"),
             log=["get|(null)|101|(null)", "free|record|(null)|(null)",
                  "set|(null)|1005|Denied"]),
        dict(name="failed read: network text from netmsg.dll, status beyond 8 bits",
             folder="standin", args=["/SRVCOMMENT:Never", "/Y", "\\\\GONE"],
             env=dict(stand_in, STANDIN_GET_STATUS="2102"), status=2102,
             out=b"",
             err=crlf("\n\nNetServerGetInfo() failed.\n\nSystem error 2102 has occurred.\n\n"
                      # Message texts end with CR LF, and like the C
                      # runtime's text mode the tool turns that LF into
                      # CR LF as well.
                      "The workstation driver is not installed (stand-in text).\r\n"),
             log=["get|\\\\GONE|101|(null)"]),
        dict(name="failed read with no netmsg.dll: the status alone",
             folder="standin-nomsg", args=[],
             env=dict(stand_in, STANDIN_GET_STATUS="2114"), status=2114,
             out=b"",
             err=crlf("\n\nNetServerGetInfo() failed.\n\nSystem error 2114 has occurred.\n\n"),
             log=["get|(null)|101|(null)"]),
    ]


# Cases typed into a real console: Wine in a tmux pane. Each: name, the
# stand-in's environment, the keys to send at the prompt, the status, the
# text the pane must show, and the stand-in's expected log.
def console_cases():
    return [
        dict(name="console: n answers no and is echoed; server text is defused",
             env={"STANDIN_NAME": "ALPHA", "STANDIN_COMMENT": "\x1b[7mEvil"},
             keys=["n"], status=240,
             shows=["Server Comment:", "?[7mEvil", "Continue? (Y/N): n"],
             log=["get|(null)|101|(null)", "free|record|(null)|(null)"]),
        dict(name="console: Up arrives as a key with no character and answers no",
             env={"STANDIN_NAME": "ALPHA", "STANDIN_COMMENT": "Old"},
             keys=["Up"], status=240,
             # Virtual key 38 with no character reads as 224, echoed as that
             # byte: alpha in the console's code page 437.
             shows=["Continue? (Y/N): \u03b1"],
             log=["get|(null)|101|(null)", "free|record|(null)|(null)"]),
        dict(name="console: y changes the comment",
             env={"STANDIN_NAME": "ALPHA", "STANDIN_COMMENT": "Old"},
             keys=["y"], status=0,
             shows=["Continue? (Y/N): y", "New Server Comment:", "The command completed successfully."],
             log=["get|(null)|101|(null)", "free|record|(null)|(null)", "set|(null)|1005|Typed"]),
    ]


class Runner:
    def __init__(self, build_dir, work, budget):
        self.exe = os.path.join(build_dir, "Tarnwick.exe")
        self.work = work
        self.budget = budget
        self.prefix = os.environ.get("TARNWICK_WINEPREFIX",
                                     f"/tmp/tarnwick-wineprefix-{os.getuid()}")
        self.env = dict(os.environ, WINEPREFIX=self.prefix, **WINE_ENV)
        self.env.pop("DISPLAY", None)
        self.env.pop("WAYLAND_DISPLAY", None)

    # -- set-up --------------------------------------------------------------

    def lock_prefix(self):
        """Waits, within the budget, until no other run of these checks uses
        the prefix: each ends its whole Wine session when done, which would
        end the other's too. The lock lasts as long as this process."""
        self.lock = open(self.prefix + ".lock", "w")
        while True:
            try:
                fcntl.flock(self.lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
                return None
            except BlockingIOError:
                if self.budget.left() <= 5:
                    return "another run of these checks held the Wine prefix for the whole budget"
                time.sleep(5)

    def quiet(self, command, timeout=RUN_TIMEOUT):
        """Runs a Wine tool for its status and its last word on errors."""
        return self.run(command, None, self.env, timeout)

    def run(self, command, cwd, env, timeout=RUN_TIMEOUT):
        """run_captured within the budget: BudgetSpent when the budget, not
        the command, ran out."""
        try:
            return run_captured(command, cwd, env, self.budget.limit(timeout))
        except subprocess.TimeoutExpired:
            if self.budget.spent():
                raise BudgetSpent()
            raise

    def wait_for(self, read, done, timeout=RUN_TIMEOUT):
        value = wait_for(read, done, self.budget.limit(timeout))
        if not done(value) and self.budget.spent():
            raise BudgetSpent()
        return value

    def probe(self):
        """None when Wine runs a 32-bit console program, else why not. On
        success a Wine session is left running for the cases."""
        if os.environ.get("TARNWICK_SKIP_WINE"):
            return "TARNWICK_SKIP_WINE is set"
        if shutil.which("wine") is None:
            return "wine is not installed"
        try:
            if not os.path.isfile(os.path.join(self.prefix, "system.reg")):
                # Done when wineboot returns; what it leaves running ends
                # with the session below.
                made = self.quiet(["wine", "wineboot", "--init"], self.budget.seconds)
                if made.returncode != 0:
                    shutil.rmtree(self.prefix, ignore_errors=True)
                    return "wine cannot make a 32-bit prefix here (" + last_line(made.stderr) + ")"
            self.start_session()
            run = self.quiet(["wine", "cmd", "/c", "echo", PROBE_TEXT])
        except subprocess.TimeoutExpired as timeout:
            self.end_session()
            return f"wine did not finish {' '.join(timeout.cmd)} in {timeout.timeout:.0f} s"
        except BudgetSpent:
            self.end_session()
            return f"wine did not get through its set-up within the {self.budget.seconds:.0f} s budget"
        if PROBE_TEXT.encode() in run.stdout:
            return None
        self.end_session()
        return "wine cannot run a 32-bit console program here (" + last_line(run.stderr) + ")"

    def start_session(self):
        """One Wine session for every case, so that Wine's own services
        start once rather than once a case."""
        self.end_session()
        self.quiet(["wineserver", "-p", "600"])

    def end_session(self):
        """Ends this prefix's Wine session and every process in it, and
        nothing else on the machine. Runs whatever is left of the budget."""
        for command in (["wineserver", "-k"], ["wineserver", "-w"]):
            try:
                run_captured(command, None, self.env, 60)
            except subprocess.TimeoutExpired:
                pass

    def build_stand_ins(self):
        plain = os.path.join(self.work, "plain")
        full = os.path.join(self.work, "standin")
        nomsg = os.path.join(self.work, "standin-nomsg")
        objects = os.path.join(self.work, "objects")
        for d in (plain, full, nomsg, objects):
            os.makedirs(d)
        entry = os.path.join(HERE, "standin_dll_entry.c")
        dll = ["-shared", "-nostdlib", "-Wl,--entry,_DllMainCRTStartup@12"]
        steps = [
            [MINGW + "gcc", "-O2", *dll, "-Wl,--kill-at", "-o", os.path.join(full, "netapi32.dll"),
             os.path.join(HERE, "standin_netapi32.c"), entry, "-lkernel32"],
            [MINGW + "windmc", "-h", objects, "-r", objects, os.path.join(HERE, "standin_netmsg.mc")],
            [MINGW + "windres", "-I", objects, os.path.join(objects, "standin_netmsg.rc"),
             "-O", "coff", "-o", os.path.join(objects, "netmsg.res.o")],
            [MINGW + "gcc", *dll, "-o", os.path.join(full, "netmsg.dll"),
             os.path.join(objects, "netmsg.res.o"), entry],
            [MINGW + "gcc", "-O2", "-o", os.path.join(full, "exit_status.exe"),
             os.path.join(HERE, "exit_status.c")],
        ]
        for step in steps:
            subprocess.run(step, check=True)
        for d in (plain, full, nomsg):
            shutil.copy(self.exe, d)
        shutil.copy(os.path.join(full, "exit_status.exe"), plain)
        for name in ("netapi32.dll", "exit_status.exe"):
            shutil.copy(os.path.join(full, name), nomsg)

    def folder_env(self, folder, extra):
        env = dict(self.env, **extra)
        if folder != "plain":
            env["WINEDLLOVERRIDES"] = WINE_ENV["WINEDLLOVERRIDES"] + ";netapi32=n"
        return env

    # -- redirected runs ------------------------------------------------------

    def run_redirected(self, case):
        folder = os.path.join(self.work, case["folder"])
        log = os.path.join(self.work, re.sub(r"\W+", "-", case["name"]) + ".log")
        status_file = log + ".status"
        env = self.folder_env(case["folder"], case["env"])
        env["STANDIN_LOG"] = windows_path(log)
        env["STANDIN_STATUS_FILE"] = windows_path(status_file)
        # Wine's exit status keeps 8 bits; for a status that needs more the
        # helper reports all 32.
        whole = case["status"] > 255
        command = ["wine", "Tarnwick.exe", *case["args"]]
        if whole:
            command = ["wine", "exit_status.exe", "Tarnwick.exe", *case["args"]]
        run = self.run(command, folder, env)
        status = run.returncode
        if whole:
            status = read_text(status_file) if run.returncode == 0 else f"helper failed ({run.returncode})"
            status = int(status) if status.isdigit() else status
        problems = []
        if status != case["status"]:
            problems.append(f"status {status!r}, want {case['status']!r}")
        for stream, got in (("out", run.stdout), ("err", run.stderr)):
            want = case[stream]
            ok = want.fullmatch(got) if isinstance(want, re.Pattern) else got == want
            if not ok:
                problems.append(f"std{stream} {got!r}, want {want if isinstance(want, bytes) else want.pattern!r}")
        if case["log"] is not None:
            lines = read_text(log).splitlines()
            if lines != case["log"]:
                problems.append(f"stand-in saw {lines!r}, want {case['log']!r}")
        return problems

    # -- console runs ---------------------------------------------------------

    def run_console(self, case, index):
        folder = os.path.join(self.work, "standin")
        log = os.path.join(self.work, f"console-{index}.log")
        status_file = log + ".status"
        env = self.folder_env("standin", case["env"])
        env["STANDIN_LOG"] = windows_path(log)
        socket = f"tarnwick-test-{os.getpid()}-{index}"
        tmux = ["tmux", "-L", socket]
        script = os.path.join(self.work, f"console-{index}.sh")
        with open(script, "w") as f:
            f.write("cd " + shell_quote(folder) + "\n")
            for key, value in sorted(env.items()):
                if re.fullmatch(r"[A-Za-z_][A-Za-z0-9_]*", key):
                    f.write(f"export {key}={shell_quote(value)}\n")
            f.write("wine Tarnwick.exe /SRVCOMMENT:Typed\n")
            f.write(f"echo $? > {shell_quote(status_file)}\n")
            f.write("sleep 3600\n")
        problems = []
        try:
            subprocess.run([*tmux, "new-session", "-d", "-s", "t", "-x", "120", "-y", "40",
                            "bash", "--noprofile", "--norc", script], check=True, env=self.env,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            screen = self.wait_for(lambda: pane(tmux), lambda s: "Continue? (Y/N):" in s)
            if "Continue? (Y/N):" not in screen:
                return [f"no prompt appeared; the pane shows {screen!r}"]
            for key in case["keys"]:
                subprocess.run([*tmux, "send-keys", "-t", "t", key], check=True)
            self.wait_for(lambda: read_text(status_file), lambda s: s.strip() != "")
            # Under emulation a crash of one of Wine's helpers shows up on
            # the terminal as qemu's own line; it is none of the program's
            # output and may split the prompt from the echo.
            screen = re.sub(r"qemu: uncaught target signal[^\n]*\n", "", pane(tmux))
            status = read_text(status_file).strip()
            if status != str(case["status"]):
                problems.append(f"status {status!r}, want {case['status']}")
            for text in case["shows"]:
                if text not in screen:
                    problems.append(f"pane lacks {text!r}; it shows {screen!r}")
            lines = read_text(log).splitlines()
            if lines != case["log"]:
                problems.append(f"stand-in saw {lines!r}, want {case['log']!r}")
        finally:
            subprocess.run([*tmux, "kill-server"], capture_output=True)
        return problems


def run_captured(command, cwd, env, timeout):
    """Runs a command with standard input empty and its output in files.
    Files, not pipes: Wine's server and services may inherit the streams
    and outlive the command, and a pipe would not end before they do."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        status = subprocess.run(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=out,
                                stderr=err, timeout=timeout).returncode
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(command, status, out.read(), err.read())


def last_line(stderr):
    lines = [l.strip() for l in stderr.decode(errors="replace").splitlines() if l.strip()]
    return lines[-1] if lines else "no message"


def read_text(path):
    try:
        with open(path, encoding="utf-8") as f:
            return f.read()
    except FileNotFoundError:
        return ""


def shell_quote(text):
    return "'" + text.replace("'", "'\\''") + "'"


def pane(tmux):
    run = subprocess.run([*tmux, "capture-pane", "-p", "-t", "t"], capture_output=True)
    return run.stdout.decode("utf-8", errors="replace")


def wait_for(read, done, timeout):
    end = time.monotonic() + timeout
    value = read()
    while not done(value) and time.monotonic() < end:
        time.sleep(1)
        value = read()
    return value


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    build_dir = os.path.abspath(sys.argv[1])
    work = tempfile.mkdtemp(prefix="tarnwick-wine-")
    runner = Runner(build_dir, work, budget_from_environment())
    strings = version_strings(runner.exe)
    redirected = redirected_cases(strings.get("ProductName"), strings.get("ProductVersion"))
    console = console_cases()
    started = time.monotonic()
    why = runner.lock_prefix() or runner.probe()
    if why is not None:
        print(f"SKIPPED: {why}")
        print(f"0 passed, 0 failed, {len(redirected) + len(console)} skipped")
        shutil.rmtree(work, ignore_errors=True)
        return 0
    print(f"     wine probe passed in {time.monotonic() - started:.0f} s")

    runner.build_stand_ins()

    jobs = [(case["name"], runner.run_redirected, (case,)) for case in redirected]
    jobs += [(case["name"], runner.run_console, (case, i)) for i, case in enumerate(console)]
    passed = failed = skipped = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        futures = [(name, pool.submit(fn, *args)) for name, fn, args in jobs]
        for name, future in futures:
            try:
                problems = future.result()
            except BudgetSpent:
                skipped += 1
                print(f"SKIPPED: {name}: the {runner.budget.seconds:.0f} s budget for Wine was spent")
                continue
            except Exception as error:  # a hung or crashed run is a failure
                problems = [f"{type(error).__name__}: {error}"]
            if problems:
                failed += 1
                print(f"FAIL {name}")
                for p in problems:
                    print(f"       {p}")
            else:
                passed += 1
                print(f"ok   {name}")
    runner.end_session()
    if failed == 0:
        shutil.rmtree(work, ignore_errors=True)
    else:
        print(f"     kept for a look: {work}")
    print(f"     wine cases took {time.monotonic() - started:.0f} s")
    print(f"{passed} passed, {failed} failed" + (f", {skipped} skipped" if skipped else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
