#!/usr/bin/env python3
"""A pty as a Wine COM port, with a peer on its far end, for the length of one command.

    ptyport.py [--com N] [--first N] [--timeout S] [--transcript FILE] [--mode echo|mute] -- COMMAND [ARG...]

Links $WINEPREFIX/dosdevices/comN to a raw pty slave (N is the first free number from 300, or
from --first, so no real port is ever taken), runs COMMAND with TAVRIN_TEST_COM=N and
TAVRIN_TEST_PTS=<pts number> (and TAVRIN_TEST_TRANSCRIPT when recording), and answers what COMMAND sends until it
ends or the bound passes. FILE may contain "{com}", replaced by N, so that parallel runs keep
apart. On the way out it removes the link and the pty's modem-line files in $PTYMODEM_DIR
(see tools/ptymodem/ptymodem.c) and exits with COMMAND's exit code, 124 when it had to stop
COMMAND at the bound.
"""
import argparse
import glob
import os
import select
import signal
import subprocess
import sys
import time
import tty

# Ports from 300 up are beyond every scan (the main window's COM1..256, the pick list's
# 1..50): a scan's trial open of another test's port would take bytes from that test, and
# on Wine a second open of a port succeeds. A test whose program must find its port in a
# scan asks for --first below 256, and keeps apart from the other scanning tests by a lock.
FIRST_FREE_COM = 300
LAST_COM = 999
TIMED_OUT = 124
GRACE_SECONDS = 5


class Peer:
    """The far end of the line. `answer` is the part a simulated instrument replaces."""

    def __init__(self, mode):
        self.mode = mode

    def answer(self, received: bytes) -> bytes:
        """Bytes to send back for bytes received."""
        if self.mode == "echo":
            return received
        return b""


class Stopped(Exception):
    pass


def on_signal(signum, _frame):
    raise Stopped(signum)


def link_port(dosdevices, slave_path, wanted, first=FIRST_FREE_COM):
    """Links comN to the slave and returns N; creating the link is what claims the number."""
    numbers = [wanted] if wanted else range(first, LAST_COM + 1)
    for n in numbers:
        try:
            os.symlink(slave_path, os.path.join(dosdevices, "com%d" % n))
            return n
        except FileExistsError:
            continue
    raise SystemExit("ptyport: com%s is taken" % (wanted if wanted else "%d..%d" % (first, LAST_COM)))


def remove_line_files(pts):
    # Also the ".out.<pid>" file ptymodem writes before renaming it into place.
    directory = os.environ.get("PTYMODEM_DIR")
    if not directory:
        return
    for pattern in ("pts%d.in*" % pts, "pts%d.out*" % pts):
        for name in glob.glob(os.path.join(directory, pattern)):
            try:
                os.remove(name)
            except FileNotFoundError:
                pass


def serve(master, child, peer, transcript, deadline):
    """Answers on the master until the child ends (True) or the deadline passes (False)."""
    try:
        child_fd = os.pidfd_open(child.pid)
    except (AttributeError, OSError):
        child_fd = None  # no pidfd: notice the child's end by a short poll period instead
    poller = select.poll()
    if child_fd is not None:
        poller.register(child_fd, select.POLLIN)
    pending = b""
    try:
        while child.poll() is None:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                return False
            poller.register(master, select.POLLIN | (select.POLLOUT if pending else 0))
            timeout = remaining if child_fd is not None else min(remaining, 0.05)
            for fd, events in poller.poll(timeout * 1000):
                if fd != master:
                    continue
                if events & select.POLLIN:
                    try:
                        received = os.read(master, 4096)
                    except BlockingIOError:
                        received = b""
                    if received:
                        if transcript:
                            transcript.write(received)
                        pending += peer.answer(received)
                if pending and events & select.POLLOUT:
                    try:
                        pending = pending[os.write(master, pending):]
                    except BlockingIOError:
                        pass
        return True
    finally:
        if child_fd is not None:
            os.close(child_fd)


def stop(child):
    if child.poll() is not None:
        return
    child.terminate()
    try:
        child.wait(GRACE_SECONDS)
    except subprocess.TimeoutExpired:
        child.kill()
        child.wait()


def main():
    parser = argparse.ArgumentParser(description="Runs a command with a pty as a Wine COM port and a peer on it.")
    parser.add_argument("--com", type=int, help="COM port number (default: first free from %d)" % FIRST_FREE_COM)
    parser.add_argument("--first", type=int, default=FIRST_FREE_COM,
                        help="lowest number to take when --com is not given (default %d)" % FIRST_FREE_COM)
    parser.add_argument("--timeout", type=float, default=60, help="seconds before the command is stopped (default 60)")
    parser.add_argument("--transcript", help="file that receives every byte the peer receives")
    parser.add_argument("--mode", choices=["echo", "mute"], default="echo", help="what the peer answers")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no command")
    prefix = os.environ.get("WINEPREFIX")
    if not prefix or not os.path.isdir(os.path.join(prefix, "dosdevices")):
        raise SystemExit("ptyport: no Wine prefix with dosdevices; run through tools/session.sh")
    if args.com is not None and not 1 <= args.com <= LAST_COM:
        parser.error("--com must be 1..%d" % LAST_COM)
    if not 1 <= args.first <= LAST_COM:
        parser.error("--first must be 1..%d" % LAST_COM)

    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(signum, on_signal)

    master, slave = os.openpty()
    # The slave stays open here, so the master never sees a hangup between the child's opens.
    tty.setraw(slave)
    os.set_blocking(master, False)
    slave_path = os.ttyname(slave)
    pts = int(os.path.basename(slave_path))
    remove_line_files(pts)
    link = None
    transcript = None
    child = None
    try:
        n = link_port(os.path.join(prefix, "dosdevices"), slave_path, args.com)
        link = os.path.join(prefix, "dosdevices", "com%d" % n)
        env = dict(os.environ, TAVRIN_TEST_COM=str(n), TAVRIN_TEST_PTS=str(pts))
        if args.transcript:
            path = os.path.abspath(args.transcript.replace("{com}", str(n)))
            transcript = open(path, "wb", buffering=0)
            env["TAVRIN_TEST_TRANSCRIPT"] = path
        child = subprocess.Popen(command, env=env)
        if serve(master, child, Peer(args.mode), transcript, time.monotonic() + args.timeout):
            rc = child.returncode
        else:
            print("ptyport: stopping %s after %g s" % (command[0], args.timeout), file=sys.stderr)
            stop(child)
            rc = TIMED_OUT
    except Stopped as stopped:
        rc = 128 + stopped.args[0]
    finally:
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        signal.signal(signal.SIGHUP, signal.SIG_IGN)
        if child is not None:
            stop(child)
        if transcript:
            transcript.close()
        if link and os.path.islink(link):
            os.remove(link)
        os.close(master)
        os.close(slave)
        remove_line_files(pts)
    return rc if rc >= 0 else 128 - rc


if __name__ == "__main__":
    sys.exit(main())
