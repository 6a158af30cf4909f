"""Runs a command (the test run) and afterwards stops whatever it left running and removes
whatever it left in its temporary folder.

    /usr/bin/python3 reap_leftovers.py COMMAND [ARG...]

This process makes itself a child subreaper (PR_SET_CHILD_SUBREAPER), so every process the
command starts stays its descendant, even one whose parent died (a crashed test's server is
adopted here, not by init) and one in a session or process group of its own. Once the command
has ended, every descendant still running is a leftover: each is printed with its command line,
killed and reaped, and the exit status is 1 even if the command passed, so a leak is seen. Only
descendants are touched: nothing of another user or another run on the host.

The command gets a temporary folder of its own as TMPDIR (which the tests' folders go under),
removed at the end; what was left in it is listed, so the folders of a crashed test are seen and
do not pile up. Others may pass through it (mode 0711: the test servers run as other users) but
not list it.

SIGINT, SIGTERM and SIGHUP are passed on to the command; its leftovers are handled as usual.
"""

import ctypes
import os
import shutil
import signal
import sys
import tempfile
import time

PR_SET_CHILD_SUBREAPER = 36
# A process that was just killed along with its parent may take a moment to be gone.
GRACE_SECONDS = 5


def parents():
    table = {}
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open(f"/proc/{name}/stat") as stat:
                text = stat.read()
        except OSError:
            continue  # gone meanwhile
        # "pid (command) state ppid ...": the command may hold blanks and parentheses.
        fields = text[text.rindex(")") + 2:].split()
        if fields[0] not in ("Z", "X"):
            table[int(name)] = int(fields[1])
    return table


def descendants(root):
    table = parents()
    found, frontier = [], [root]
    while frontier:
        parent = frontier.pop()
        children = [pid for pid, ppid in table.items() if ppid == parent]
        found += children
        frontier += children
    return found


def reap_zombies():
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            return


def command_line(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
            return cmdline.read().replace(b"\0", b" ").decode(errors="replace").strip()
    except OSError:
        return "?"


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        sys.exit(f"reap_leftovers: prctl failed: {os.strerror(ctypes.get_errno())}")

    folder = tempfile.mkdtemp(prefix="corvane-run-")
    os.chmod(folder, 0o711)
    command = os.fork()
    if command == 0:
        try:
            os.environ["TMPDIR"] = folder
            os.execvp(sys.argv[1], sys.argv[1:])
        finally:
            os._exit(127)
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, lambda received, _frame: os.kill(command, received))

    # Adopted orphans end here too: reap them all until the command itself ends.
    while True:
        try:
            pid, status = os.waitpid(-1, 0)
        except InterruptedError:
            continue
        if pid == command:
            break
    status = os.waitstatus_to_exitcode(status)
    if status < 0:
        status = 128 - status

    me = os.getpid()
    deadline = time.monotonic() + GRACE_SECONDS
    while True:
        reap_zombies()
        left = descendants(me)
        if not left or time.monotonic() > deadline:
            break
        time.sleep(0.1)
    if left:
        print(f"reap_leftovers: {len(left)} process(es) still running after "
              f"'{' '.join(sys.argv[1:])}' ended; killing them:", file=sys.stderr)
        for pid in left:
            print(f"  leftover pid {pid}: {command_line(pid)}", file=sys.stderr)
        # Again until none is left: one may have started another meanwhile.
        deadline = time.monotonic() + 30
        while left and time.monotonic() < deadline:
            for pid in left:
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            time.sleep(0.05)
            reap_zombies()
            left = descendants(me)
        status = status or 1
    left_files = sorted(os.listdir(folder))
    if left_files:
        print(f"reap_leftovers: left in the run's TMPDIR, now removed: {' '.join(left_files)}",
              file=sys.stderr)
    shutil.rmtree(folder, ignore_errors=True)
    sys.exit(status)


if __name__ == "__main__":
    main()
