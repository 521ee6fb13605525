"""Hostile, oversized and broken input for the built tarnwick, against real Samba.

Run through run-hardening.sh, which gives this script its own network, mount
and PID namespaces. Groups run in table order; within a group the display at
the top of a case is also the check that the case before it changed (or did
not change) the comment.

Cases marked `memcheck` run under valgrind. A sanitizer build cannot run
under valgrind, so for one they run plain and the sanitizers do the checking.
"""
import os
import select
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import tty
from dataclasses import dataclass

from sandbox import (SERVER_ADDRESS, LocalSamba, PrivateSmbd, bring_up_loopback,
                     sanitizer_env)

BINARY = sys.argv[1]
HERE = os.path.dirname(os.path.abspath(__file__))
SUPPRESSIONS = os.path.join(HERE, "..", "hardening", "samba.supp")

# Samba gives up on a TCP connect after 5 s (port 445, and port 139 started
# 5 ms later, each with a hard-coded 5000 ms in smbsock_connect.c); no
# smb.conf parameter changes it.
CONNECT_BOUND = 5.0
MARGIN = 3.0
# Valgrind runs the tool and all of libnetapi's libraries tens of times slower.
MEMCHECK_BOUND = 180.0

# Addresses of our own, all on the private loopback device.
UNREACHABLE = "127.0.0.3"   # nothing listens: connections are refused
BLACKHOLE = "127.0.0.4"     # every packet to it is dropped
SLAMMER = "127.0.0.5"       # accepts on port 445 and closes at once


# ---------------------------------------------------------------------------
# What the tool prints.

def shown(name, comment):
    return f"\n\nServer Name:\t\t{name}\nServer Comment:\t\t{comment}\n"


DONE = "\nThe command completed successfully.\n"


def changed(comment):
    return f"\nNew Server Comment:\t{comment}\n{DONE}"


def read_failed(status, reason):
    return f"\n\nNetServerGetInfo() failed.\n\nSystem error {status} has occurred.\n\n{reason}\n"


def no_connection(server):
    return read_failed(1003, f"Failed to connect to IPC$ share on {server}")


def not_utf8(position):
    return f"tarnwick: argument {position} is not valid UTF-8\n"


@dataclass
class Case:
    name: str
    args: list              # str, or bytes for what is not valid UTF-8
    out: str
    err: str = ""
    code: int = 0
    terminal: bool = False  # stdout is a pseudo-terminal rather than a pipe
    within: float = 30.0    # the run must have ended by then
    at_least: float = 0.0   # and not before
    memcheck: bool = False
    before: object = None   # called with the group's world before the run


# ---------------------------------------------------------------------------
# The cases.

TEXT = ("LOCALBOX", "Text config comment")
WARNED = [f"/unknown-{i}" for i in range(10_000)]

# One argument may be at most 128 KiB with its terminating NUL
# (MAX_ARG_STRLEN): the longest comment switch exec can pass.
HUGE = "/SRVCOMMENT:" + ("0123456789abcdefghijklmnopqrstuvwxyz" * 3641)[:131071 - 12]
HUGE_KEPT = HUGE[12:60]
MARKS = "\u0301" * 10

# Longer than the tool's 2048-unit message buffer, with a surrogate pair
# across the buffer's end: "\nServer Comment:\t\t" is 18 units, so the pair
# takes units 2047 and 2048 of the message.
LONG_COMMENT = "é" * 2029 + "\U0001F600" + "ü" * 970

HOSTILE_NAME = "FILE\x1b[7MSRV"
HOSTILE_COMMENT = "\x1b]0;owned\x07\x1b[2J\u009b31m\x7fend"
SERVER = f"\\\\{SERVER_ADDRESS}"


def drop_packets_to(address):
    def rule(world):
        nft = subprocess.run(["nft", "-f", "-"], capture_output=True, input=(
            "table ip tarnwick_blackhole {\n"
            "  chain input {\n"
            "    type filter hook input priority 0; policy accept;\n"
            f"    ip daddr {address} drop\n"
            "  }\n"
            "}\n").encode())
        if nft.returncode != 0:
            raise RuntimeError(f"nft could not drop packets to {address}: {nft.stderr!r}")
    return rule


def kill_smbd(world):
    world["smbd"].kill()


NO_SERVER_CASES = [
    Case("10,000 unrecognised arguments: one warning each, then the display", WARNED,
         shown(*TEXT), "".join(f'\nInvalid switch ignored: "{a}"' for a in WARNED), 87,
         within=20),
    # Each argument is checked before any is acted on: the unknown switch is
    # not warned about and the server is never asked.
    Case("invalid UTF-8 at the start of an argument", ["/Y", b"\xff/SRVCOMMENT:x", f"\\\\{UNREACHABLE}"],
         "", not_utf8(2), 87),
    Case("invalid UTF-8 in the middle of an argument (overlong '/')",
         [b"/SRVCOMMENT:a\xc0\xafb", "/bogus", f"\\\\{UNREACHABLE}"], "", not_utf8(1), 87),
    Case("invalid UTF-8 at the end of an argument (cut-off sequence)",
         ["/bogus", "/Y", b"/SRVCOMMENT:tail\xe2\x82", f"\\\\{UNREACHABLE}"], "", not_utf8(3), 87),
    Case("server argument of 3 characters", ["\\\\a"], "", no_connection("a"), 255,
         within=CONNECT_BOUND),
    Case("server argument of 300 characters", ["\\\\" + "n" * 298], "", no_connection("n" * 298), 255,
         within=CONNECT_BOUND),
    Case("server name with blanks", ["\\\\file server 2"], "", no_connection("file server 2"), 255,
         within=CONNECT_BOUND),
    Case("server name with non-ASCII letters", ["\\\\sérveur-ünïcode"], "",
         no_connection("sérveur-ünïcode"), 255, within=CONNECT_BOUND),
    Case("a server that closes the connection at once", [f"\\\\{SLAMMER}"], "",
         no_connection(SLAMMER), 255, within=CONNECT_BOUND),
    Case("failed read", [f"\\\\{UNREACHABLE}"], "", no_connection(UNREACHABLE), 255, memcheck=True),
    Case("a blackholed address ends within Samba's connect timeout", [f"\\\\{BLACKHOLE}"], "",
         no_connection(BLACKHOLE), 255, at_least=CONNECT_BOUND - 0.5,
         within=CONNECT_BOUND + MARGIN, before=drop_packets_to(BLACKHOLE)),
]

LONG_COMMENT_CASES = [
    Case("comment of 3,000 characters is shown whole", [], shown(TEXT[0], LONG_COMMENT) + DONE),
]

REG = "REGBOX"

REGISTRY_CASES = [
    Case("largest argument exec allows is cut to 48 and applied", [HUGE, "/Y"],
         shown(REG, "Seeded comment") + changed(HUGE_KEPT)),
    Case("change", ["/SRVCOMMENT:checked change", "/Y"], shown(REG, HUGE_KEPT) + changed("checked change"),
         memcheck=True),
    Case("comment of combining marks only is applied as given", ["/SRVCOMMENT:" + MARKS, "/Y"],
         shown(REG, "checked change") + changed(MARKS)),
    Case("and shown as given", [], shown(REG, MARKS) + DONE),
]

HOSTILE_CASES = [
    Case("escape sequences reach a pipe byte for byte", [SERVER],
         shown(HOSTILE_NAME, HOSTILE_COMMENT) + DONE),
    Case("on a terminal every control character of the server's text shows as '?'", [SERVER],
         shown("FILE?[7MSRV", "?]0;owned??[2J?31m?end") + DONE, terminal=True),
]

EMPTY_CASES = [
    Case("empty comment is shown empty", [SERVER], shown("FILESERVER", "") + DONE),
    # Only ASCII here: every byte of the server's text becomes one unit, so
    # the copy the tool makes has no room to spare.
    Case("display", [SERVER], shown("FILESERVER", "") + DONE, memcheck=True),
    Case("server killed since the last run", [SERVER], "", no_connection(SERVER_ADDRESS), 255,
         within=CONNECT_BOUND, before=kill_smbd),
]


# ---------------------------------------------------------------------------
# Running one case.

def is_sanitizer_build(path):
    with open(path, "rb") as f:
        return b"__asan_init" in f.read()


SANITIZED = is_sanitizer_build(BINARY)


def memcheck_command(log):
    return ["valgrind", "--quiet", "--error-exitcode=99", "--leak-check=full",
            "--errors-for-leak-kinds=definite", "--show-leak-kinds=definite",
            f"--suppressions={SUPPRESSIONS}", f"--log-file={log}"]


def collect(stdout_fd, stderr_fd, deadline):
    """Reads both streams to their end, or until the deadline passes."""
    chunks = {stdout_fd: [], stderr_fd: []}
    open_fds = [stdout_fd, stderr_fd]
    while open_fds:
        left = deadline - time.monotonic()
        if left <= 0:
            return None
        ready, _, _ = select.select(open_fds, [], [], left)
        for fd in ready:
            try:
                data = os.read(fd, 65536)
            except OSError:  # a terminal whose last writer closed it
                data = b""
            if data:
                chunks[fd].append(data)
            else:
                open_fds.remove(fd)
    return b"".join(chunks[stdout_fd]), b"".join(chunks[stderr_fd])


def run_tool(argv, env, terminal, limit):
    """Returns (status, stdout, stderr), or None if the run outlived `limit`."""
    if terminal:
        reader, writer = os.openpty()
        # No output processing, so what the tool wrote is what is read.
        tty.setraw(writer)
    else:
        reader, writer = os.pipe()
    try:
        process = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=writer,
                                   stderr=subprocess.PIPE, start_new_session=True)
    except OSError:
        os.close(reader)
        raise
    finally:
        os.close(writer)
    try:
        streams = collect(reader, process.stderr.fileno(), time.monotonic() + limit)
        if streams is None:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            return None
        return (process.wait(), *streams)
    finally:
        os.close(reader)
        process.stderr.close()


def run_case(case, env, world, scratch):
    if case.before is not None:
        case.before(world)
    argv = [BINARY, *case.args]
    limit = case.within
    log = None
    if case.memcheck and not SANITIZED:
        log = os.path.join(scratch, "memcheck.log")
        argv = memcheck_command(log) + argv
        limit = MEMCHECK_BOUND
    start = time.monotonic()
    result = run_tool(argv, env, case.terminal, limit)
    took = time.monotonic() - start
    if result is None:
        return [f"still running after {limit:.0f} s; killed"], took
    code, out, err = result
    faults = []
    if log is not None and code == 99:
        with open(log, errors="replace") as f:
            faults.append("valgrind found errors:\n" + f.read()[-4000:])
    for what, got, want in [("exit status", code, case.code), ("stdout", out, case.out.encode()),
                            ("stderr", err, case.err.encode())]:
        if got != want:
            if isinstance(got, bytes) and len(want) > 400:
                at = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))
                faults.append(f"{what}: {len(got)} bytes, expected {len(want)}; first difference at "
                              f"byte {at}: got {got[at:at + 40]!r}, expected {want[at:at + 40]!r}")
            else:
                faults.append(f"{what}: expected {want!r}, got {got!r}")
    if log is None:
        if took > case.within:
            faults.append(f"took {took:.2f} s, more than {case.within:.1f} s")
        if took < case.at_least:
            faults.append(f"took {took:.2f} s, less than {case.at_least:.1f} s")
    return faults, took


# ---------------------------------------------------------------------------
# The worlds the cases run in.

class Slammer:
    """Accepts connections on port 445 and closes each at once."""

    def __init__(self, address):
        self.socket = socket.socket()
        self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.socket.bind((address, 445))
        self.socket.listen(8)
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        while True:
            try:
                connection, _ = self.socket.accept()
            except OSError:
                return
            connection.close()

    def stop(self):
        # Closing alone would leave the blocked accept() holding the port.
        self.socket.shutdown(socket.SHUT_RDWR)
        self.socket.close()
        self.thread.join()


def check_served(*texts):
    """The server must really hand out these texts, or the cases prove nothing."""
    listing = subprocess.run(["rpcclient", "-U%", "-c", "srvinfo", SERVER_ADDRESS],
                             capture_output=True, timeout=30).stdout
    for text in texts:
        if text.encode() not in listing:
            raise RuntimeError(f"smbd does not serve {text!r}; rpcclient shows {listing!r}")


def main():
    results = []
    world = {}

    with tempfile.TemporaryDirectory(prefix="tarnwick-hardening.") as root:
        home = os.path.join(root, "home")
        os.makedirs(home)
        env = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "HOME": home, **sanitizer_env()}

        def local():
            if "local" not in world:
                bring_up_loopback()
                world["local"] = LocalSamba(os.path.join(root, "local"))
            return world["local"]

        def no_server():
            local().use_text_config(*TEXT)
            world["slammer"] = Slammer(SLAMMER)

        def smbd(name, comment, *served):
            def start():
                end_servers()
                local().use_text_config(*TEXT)
                world["smbd"] = PrivateSmbd(os.path.join(root, f"smbd{len(results)}"),
                                            name=name, comment=comment)
                check_served(*served)
            return start

        def end_servers():
            for key in ("slammer", "smbd"):
                if key in world:
                    world.pop(key).stop()

        groups = [
            ("no server answers", NO_SERVER_CASES, no_server),
            ("this machine, long comment", LONG_COMMENT_CASES,
             lambda: (end_servers(), local().use_text_config(TEXT[0], LONG_COMMENT))),
            ("this machine, registry config", REGISTRY_CASES,
             lambda: local().use_registry_config(REG, "Seeded comment")),
            (f"smbd on {SERVER_ADDRESS} with escape sequences", HOSTILE_CASES,
             smbd(HOSTILE_NAME, HOSTILE_COMMENT, HOSTILE_NAME, HOSTILE_COMMENT)),
            (f"smbd on {SERVER_ADDRESS} with an empty server string", EMPTY_CASES,
             smbd("FILESERVER", "", "FILESERVER")),
        ]
        try:
            for title, cases, setup in groups:
                try:
                    setup()
                    setup_fault = None
                except Exception as e:  # a group that cannot start fails every case in it
                    setup_fault = f"setup: {e} {getattr(e, 'stderr', None) or b''!r}"
                for case in cases:
                    label = case.name
                    if case.memcheck:
                        label += " (under AddressSanitizer)" if SANITIZED else " (under memcheck)"
                    took = 0.0
                    if setup_fault:
                        faults = [setup_fault]
                    else:
                        try:
                            faults, took = run_case(case, env, world, root)
                        except Exception as e:
                            faults = [f"could not run: {e!r}"]
                    results.append(not faults)
                    print(f"{'ok  ' if not faults else 'FAIL'} {title}: {label} ({took:.2f} s)",
                          flush=True)
                    for fault in faults:
                        print(f"       {fault}", flush=True)
        finally:
            end_servers()

    passed = results.count(True)
    print(f"{passed} passed, {len(results) - passed} failed")
    return 0 if passed == len(results) else 1


if __name__ == "__main__":
    sys.exit(main())
