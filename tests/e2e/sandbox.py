"""A private Samba world for running tarnwick against real servers.

Everything here expects to run as root inside fresh network, mount and PID
namespaces (see run.sh): the bind mounts and the loopback device then belong
to the run alone, and every process left behind dies with the namespace.
"""
import os
import signal
import socket
import subprocess
import time

# The places libnetapi reads and writes when it acts for this machine.
SAMBA_SYSTEM_PATHS = {
    "etc/smb.conf": "/etc/samba/smb.conf",
    "lib": "/var/lib/samba",
    "run": "/run/samba",
    "cache": "/var/cache/samba",
    "log": "/var/log/samba",
}

SERVER_ADDRESS = "127.0.0.2"
SERVER_NAME = "FILESERVER"
SERVER_COMMENT = "Private test server"

_HERE = os.path.dirname(os.path.abspath(__file__))


def sanitizer_env():
    """What an AddressSanitizer build of the tool needs to pass through.

    Samba keeps some allocations of libnetapi_init for the life of the
    process; the suppressions name it, and only full unwinding finds it
    through libtalloc, which has no frame pointers. Harmless for other builds.
    """
    return {
        "ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "fast_unwind_on_malloc=0"),
        "LSAN_OPTIONS": os.environ.get(
            "LSAN_OPTIONS",
            "suppressions=" + os.path.join(_HERE, "..", "hardening", "lsan.supp")
            + ":print_suppressions=0"),
        "UBSAN_OPTIONS": os.environ.get("UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1"),
    }


def bring_up_loopback():
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)


class LocalSamba:
    """This machine's Samba, as libnetapi sees it, moved into `root`.

    Only 127.0.0.1 is on lo: libnetapi treats any of the host's own addresses
    as this machine, so the private server stays reachable as a remote one on
    127.0.0.2 only while that address is not assigned.
    """

    def __init__(self, root):
        self.root = root
        for relative, system_path in SAMBA_SYSTEM_PATHS.items():
            private = os.path.join(root, relative)
            if relative.endswith(".conf"):
                os.makedirs(os.path.dirname(private), exist_ok=True)
                open(private, "w").close()
            else:
                os.makedirs(private, exist_ok=True)
            subprocess.run(["mount", "--bind", private, system_path], check=True)
        self.conf = os.path.join(root, "etc/smb.conf")

    def use_text_config(self, name, comment):
        # Written in place: the bind mount follows the inode, not the name.
        with open(self.conf, "w", encoding="utf-8") as f:
            f.write(f"[global]\n  netbios name = {name}\n  server string = {comment}\n"
                    "  server role = standalone server\n")

    def use_registry_config(self, name, comment):
        with open(self.conf, "w") as f:
            f.write("[global]\n  config backend = registry\n")
        seed = os.path.join(self.root, "seed.conf")
        with open(seed, "w", encoding="utf-8") as f:
            f.write(f"[global]\n  netbios name = {name}\n  server string = {comment}\n"
                    "  server role = standalone server\n")
        subprocess.run(["net", "conf", "import", seed], check=True, capture_output=True)


class PrivateSmbd:
    """An smbd of our own on port 445, with its state under `root`."""

    def __init__(self, root, users=(), name=SERVER_NAME, comment=SERVER_COMMENT):
        """`name` and `comment` are written as given, so they may hold
        control characters."""
        self.root = root
        self.conf = os.path.join(root, "smb.conf")
        dirs = {key: os.path.join(root, key) for key in
                ("lock", "state", "cache", "pid", "private", "ncalrpc")}
        for path in dirs.values():
            os.makedirs(path, exist_ok=True)
        with open(self.conf, "w", encoding="utf-8") as f:
            f.write(f"""[global]
  netbios name = {name}
  server string = {comment}
  server role = standalone server
  interfaces = lo
  bind interfaces only = no
  smb ports = 445
  map to guest = never
  load printers = no
  disable spoolss = yes
  printcap name = /dev/null
  lock directory = {dirs['lock']}
  state directory = {dirs['state']}
  cache directory = {dirs['cache']}
  pid directory = {dirs['pid']}
  private dir = {dirs['private']}
  ncalrpc dir = {dirs['ncalrpc']}
  log file = {root}/log.%m
  log level = 1 auth_audit:3
""")
        for user, password in users:
            subprocess.run(["smbpasswd", "-c", self.conf, "-a", "-s", user], check=True,
                           input=f"{password}\n{password}\n".encode(), capture_output=True)
        self.log_path = os.path.join(root, "smbd.out")
        self.log = open(self.log_path, "ab")
        self.process = subprocess.Popen(
            ["smbd", "-F", "--no-process-group", "-s", self.conf, "--debug-stdout"],
            stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT,
            # On its way out smbd signals its whole process group; that must
            # be its own, not the caller's.
            start_new_session=True)
        self._wait_until_listening()

    def _wait_until_listening(self, timeout=15.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError(f"smbd exited with {self.process.returncode}; see {self.log_path}")
            try:
                socket.create_connection((SERVER_ADDRESS, 445), timeout=0.5).close()
                return
            except OSError:
                time.sleep(0.05)
        raise RuntimeError("smbd did not listen on port 445 in time")

    def log_size(self):
        return os.path.getsize(self.log_path)

    def log_since(self, offset):
        with open(self.log_path, "rb") as f:
            f.seek(offset)
            return f.read().decode("utf-8", "replace")

    def kill(self):
        """Ends smbd at once, as a crash or power cut would; stop() still
        clears up what is left."""
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()

    def stop(self):
        """Ends smbd and the RPC daemons it started, which live in a session of their own."""
        helpers = os.path.join(self.root, "pid", "samba-dcerpcd.pid")
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        _end_group(self.process.pid)
        try:
            with open(helpers) as f:
                _end_group(int(f.read()))
        except (OSError, ValueError):
            pass
        self.log.close()


def _end_group(pgid, timeout=5.0):
    try:
        os.killpg(pgid, signal.SIGTERM)
    except ProcessLookupError:
        return
    deadline = time.monotonic() + timeout
    while True:
        # We are the namespace's init, so orphans are ours to reap; a zombie
        # still counts as a member of its group.
        try:
            while os.waitpid(-1, os.WNOHANG)[0] > 0:
                pass
        except ChildProcessError:
            pass
        try:
            os.killpg(pgid, 0)
        except ProcessLookupError:
            return
        if time.monotonic() > deadline:
            os.killpg(pgid, signal.SIGKILL)
            deadline = float("inf")
        time.sleep(0.02)
