"""End-to-end cases for the built tarnwick binary against real Samba.

Run through run.sh, which gives this script its own network, mount and PID
namespaces. Cases run in table order and share state on purpose: the display
at the top of each case is also the check that the case before it changed (or
did not change) the comment.
"""
import fcntl
import os
import re
import select
import subprocess
import sys
import tempfile
import termios
import time
import tty
from dataclasses import dataclass, field

from sandbox import (SERVER_ADDRESS, SERVER_COMMENT, SERVER_NAME, LocalSamba, PrivateSmbd,
                     bring_up_loopback, sanitizer_env)

BINARY = sys.argv[1]
TIMEOUT = 30


# ---------------------------------------------------------------------------
# What the tool prints.

def shown(name, comment):
    return f"\n\nServer Name:\t\t{name}\nServer Comment:\t\t{comment}\n"


DONE = "\nThe command completed successfully.\n"


def changed(comment):
    return f"\nNew Server Comment:\t{comment}\n{DONE}"


def asked(comment):
    return f"\n\nThe Server comment will be changed to '{comment}'.\n\nContinue? (Y/N): \n"


def system_error(status, reason):
    return f"\n\nSystem error {status} has occurred.\n\n{reason}\n"


@dataclass
class Case:
    name: str
    args: list
    out: str
    err: str = ""
    code: int = 0
    env: dict = field(default_factory=dict)
    # None: run with no controlling terminal. Otherwise these bytes are typed
    # on a pseudo-terminal once the tool is waiting for its key.
    keys: bytes = None
    echoed: bytes = b""     # what the tool wrote to the terminal
    left: bytes = b""       # what it left unread in the terminal's input
    # The logons smbd recorded for the run: (password type, status) pairs.
    logons: list = None


# ---------------------------------------------------------------------------
# The cases.

TEXT = ("LOCALBOX", "Text config comment")
REG = "REGBOX"
LONG = "0123456789" * 6
# 47 units, then a character that needs two: the cut must not split it.
STRADDLE = "é" * 47 + "\U0001F600" + "tail"

TEXT_CONFIG_CASES = [
    Case("change refused by a text smb.conf", ["/SRVCOMMENT:new", "/Y"], shown(*TEXT),
         system_error(50, "Configuration manipulation requested but not supported by backend"), 50),
    Case("display is unchanged after the refusal", [], shown(*TEXT) + DONE),
    Case("unknown switch is reported, display still runs", ["/bogus"], shown(*TEXT),
         '\nInvalid switch ignored: "/bogus"', 87),
    # Before the private smbd starts: it listens on every loopback address.
    Case("unreachable server", ["\\\\127.0.0.3"], "",
         "\n\nNetServerGetInfo() failed."
         + system_error(1003, "Failed to connect to IPC$ share on 127.0.0.3"), 255),
]

REGISTRY_CASES = [
    Case("change with /Y", ["/SRVCOMMENT:Moved to rack 4", "/Y"],
         shown(REG, "Seeded comment") + changed("Moved to rack 4")),
    Case("no-change marker only displays (and shows the change persisted)",
         ["/SRVCOMMENT:***NotSpecified***", "/Y"], shown(REG, "Moved to rack 4") + DONE),
    Case("no terminal declines", ["/SRVCOMMENT:never"],
         shown(REG, "Moved to rack 4") + asked("never"), code=240),
    Case("60 characters are cut to 48", ["/SRVCOMMENT:" + LONG, "/Y"],
         shown(REG, "Moved to rack 4") + changed(LONG[:48])),
    Case("cut keeps a surrogate pair whole", ["/SRVCOMMENT:" + STRADDLE, "/Y"],
         shown(REG, LONG[:48]) + changed("é" * 47)),
    Case("empty comment", ["/SRVCOMMENT:", "/Y"], shown(REG, "é" * 47) + changed("")),
    Case("y on the terminal applies", ["/SRVCOMMENT:typed yes"],
         shown(REG, "") + asked("typed yes") + changed("typed yes"), keys=b"y", echoed=b"y"),
    Case("n on the terminal declines", ["/SRVCOMMENT:typed no"],
         shown(REG, "typed yes") + asked("typed no"), code=240, keys=b"n", echoed=b"n"),
    Case("cursor key declines and is read whole", ["/SRVCOMMENT:arrow"],
         shown(REG, "typed yes") + asked("arrow"), code=240, keys=b"\x1b[A"),
    Case("a key typed after the cursor key stays for the shell", ["/SRVCOMMENT:arrow"],
         shown(REG, "typed yes") + asked("arrow"), code=240, keys=b"\x1b[Ax", left=b"x"),
    Case("nothing declined was applied", [], shown(REG, "typed yes") + DONE),
]

SERVER = f"\\\\{SERVER_ADDRESS}"
SERVER_SHOWN = shown(SERVER_NAME, SERVER_COMMENT)

SMBD_CASES = [
    Case("anonymous display", [SERVER], SERVER_SHOWN + DONE,
         logons=[("No-Password", "NT_STATUS_OK")]),
    Case("display with credentials", [SERVER], SERVER_SHOWN + DONE,
         env={"USER": "root", "PASSWD": "secret"}, logons=[("NTLMv2", "NT_STATUS_OK")]),
    # Credentials the user gave are not a guess: refused, they fail the run
    # rather than quietly becoming an anonymous session.
    Case("wrong password fails", [SERVER], "",
         "\n\nNetServerGetInfo() failed." + system_error(1003, f"Failed to connect to IPC$ share on {SERVER_ADDRESS}"),
         255, env={"USER": "root", "PASSWD": "wrong"},
         logons=[("NTLMv2", "NT_STATUS_WRONG_PASSWORD")]),
    # smbd accepts a new comment and keeps its configured one.
    Case("remote change is reported done", [SERVER, "/SRVCOMMENT:remote", "/Y"],
         SERVER_SHOWN + changed("remote"), env={"USER": "root", "PASSWD": "secret"}),
    Case("smbd still shows its own comment", [SERVER], SERVER_SHOWN + DONE),
]


# ---------------------------------------------------------------------------
# Running one case.

def base_env(home):
    return {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "HOME": home, **sanitizer_env()}


def drain(fd):
    data = b""
    while select.select([fd], [], [], 0.05)[0]:
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            break
        if not chunk:
            break
        data += chunk
    return data


def run_detached(case, env):
    # A new session has no controlling terminal, so /dev/tty cannot open.
    p = subprocess.run([BINARY, *case.args], env=env, stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=TIMEOUT, start_new_session=True)
    return p.returncode, p.stdout, p.stderr, b"", b"", None


def run_on_terminal(case, env):
    master, slave = os.openpty()
    try:
        before = termios.tcgetattr(slave)
        p = subprocess.Popen([BINARY, *case.args], env=env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             start_new_session=True,
                             preexec_fn=lambda: fcntl.ioctl(slave, termios.TIOCSCTTY, 0))
        # Type only once the tool has the terminal in raw mode, as a person
        # would after reading the prompt; earlier, the line discipline would
        # echo the key itself.
        deadline = time.monotonic() + TIMEOUT
        while termios.tcgetattr(master)[3] & termios.ICANON:
            if p.poll() is not None or time.monotonic() > deadline:
                break
            time.sleep(0.002)
        os.write(master, case.keys)
        try:
            out, err = p.communicate(timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            p.kill()
            out, err = p.communicate()
        echoed = drain(master)
        restored = termios.tcgetattr(slave) == before
        # Pending input without a line end is readable only outside
        # canonical mode.
        tty.setraw(slave, termios.TCSANOW)  # TCSAFLUSH would discard it
        left = drain(slave)
        return p.returncode, out, err, echoed, left, restored
    finally:
        os.close(master)
        os.close(slave)


def run_case(case, home, smbd=None):
    env = {**base_env(home), **case.env}
    offset = smbd.log_size() if smbd else 0
    run = run_detached if case.keys is None else run_on_terminal
    code, out, err, echoed, left, restored = run(case, env)
    faults = []
    expect = [("exit status", code, case.code), ("stdout", out, case.out.encode()),
              ("stderr", err, case.err.encode())]
    if case.keys is not None:
        expect += [("terminal echo", echoed, case.echoed), ("left unread", left, case.left),
                   ("terminal mode restored", restored, True)]
    for what, got, want in expect:
        if got != want:
            faults.append(f"{what}: expected {want!r}, got {got!r}")
    if case.logons is not None:
        logons = re.findall(r"^Auth: .* with \[([^\]]*)\] status \[([^\]]*)\]",
                            smbd.log_since(offset), re.MULTILINE)
        if logons != case.logons:
            faults.append(f"smbd logons: expected {case.logons!r}, got {logons!r}")
    return faults


# ---------------------------------------------------------------------------

def main():
    results = []
    state = {}  # the LocalSamba and PrivateSmbd, once set up

    def run_group(title, cases, setup):
        try:
            setup()
        except Exception as e:  # a group that cannot start fails every case in it
            detail = getattr(e, "stderr", None) or b""
            for case in cases:
                results.append(False)
                print(f"FAIL {title}: {case.name} (setup: {e} {detail!r})", flush=True)
            return
        for case in cases:
            try:
                faults = run_case(case, home, state.get("smbd"))
            except Exception as e:
                faults = [f"could not run: {e!r}"]
            results.append(not faults)
            print(f"{'ok  ' if not faults else 'FAIL'} {title}: {case.name}", flush=True)
            for fault in faults:
                print(f"       {fault}", flush=True)

    def local_samba():
        if "local" not in state:
            bring_up_loopback()
            state["local"] = LocalSamba(os.path.join(root, "local"))
        return state["local"]

    def start_smbd():
        state["smbd"] = PrivateSmbd(os.path.join(root, "smbd"), users=[("root", "secret")])

    with tempfile.TemporaryDirectory(prefix="tarnwick-e2e.") as root:
        home = os.path.join(root, "home")
        os.makedirs(home)
        try:
            run_group("this machine, text smb.conf", TEXT_CONFIG_CASES,
                      lambda: local_samba().use_text_config(*TEXT))
            run_group("this machine, registry config", REGISTRY_CASES,
                      lambda: local_samba().use_registry_config(REG, "Seeded comment"))
            run_group(f"smbd on {SERVER_ADDRESS}", SMBD_CASES, start_smbd)
        finally:
            if "smbd" in state:
                state["smbd"].stop()

    passed = results.count(True)
    print(f"{passed} passed, {len(results) - passed} failed")
    return 0 if passed == len(results) else 1


if __name__ == "__main__":
    sys.exit(main())
