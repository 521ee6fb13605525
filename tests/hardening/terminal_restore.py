#!/usr/bin/env python3
"""A signal that ends the run during the confirmation read must leave the
terminal in the mode it found it in, and the process must end by that signal.

Usage: terminal_restore.py BINARY SMB_CONF
Runs BINARY on a pseudo-terminal in a private mount namespace where SMB_CONF
stands in for /etc/samba/smb.conf, waits for the prompt, checks that the
terminal is in raw mode, sends the signal, and compares the mode after."""
import os
import pty
import select
import signal
import sys
import termios
import time

PROMPT = b"Continue? (Y/N): "


def read_until(fd, marker, timeout):
    seen = b""
    end = time.monotonic() + timeout
    while marker not in seen:
        left = end - time.monotonic()
        if left <= 0:
            return seen
        ready, _, _ = select.select([fd], [], [], left)
        if not ready:
            continue
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            return seen
        if not chunk:
            return seen
        seen += chunk
    return seen


def run_case(binary, conf, sig):
    pid, master = pty.fork()
    if pid == 0:
        os.execvp("unshare", ["unshare", "-m", "--", "sh", "-c",
                              'mount --bind "$1" /etc/samba/smb.conf && exec "$2" "/SRVCOMMENT:new"',
                              "sh", conf, binary])
    before = termios.tcgetattr(master)
    seen = read_until(master, PROMPT, 20)
    problems = []
    if PROMPT not in seen:
        problems.append("no prompt; saw %r" % seen[-200:])
    else:
        # The read has begun once the mode has changed; give it a moment.
        deadline = time.monotonic() + 5
        while termios.tcgetattr(master)[3] & termios.ICANON and time.monotonic() < deadline:
            time.sleep(0.02)
        if termios.tcgetattr(master)[3] & termios.ICANON:
            problems.append("terminal never left canonical mode")
    os.kill(pid, sig)
    _, status = os.waitpid(pid, 0)
    after = termios.tcgetattr(master)
    os.close(master)
    if not os.WIFSIGNALED(status) or os.WTERMSIG(status) != sig:
        problems.append("ended with wait status %#x, not by the signal" % status)
    if after != before:
        problems.append("terminal mode not restored")
    return problems


def main():
    binary, conf = sys.argv[1], sys.argv[2]
    passed = failed = 0
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT):
        problems = run_case(binary, conf, sig)
        name = signal.Signals(sig).name
        if problems:
            failed += 1
            print("FAIL terminal restored after %s: %s" % (name, "; ".join(problems)))
        else:
            passed += 1
            print("ok   terminal restored after %s" % name)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
