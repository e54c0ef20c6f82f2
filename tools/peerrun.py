"""What the loopback peers (httppeer.py, ftppeer.py) share: their command line, their servers'
threads and one bounded run of the command they serve.

    args, command = peerrun.parse(DESCRIPTION, LOG_HELP)
    run = peerrun.Run("NAME", command, args.timeout)
    try:
        with run:                # a signal raises ptyport.Stopped in here
            servers.append(peerrun.serve(Server(...)))
            run.wait(env)
    finally:                     # signals are ignored by now: this runs whole
        peerrun.shut(servers, peer)
    return run.exit_code()
"""
import argparse
import signal
import subprocess
import sys
import threading
import time

import ptyport

SIGNALS = (signal.SIGTERM, signal.SIGINT, signal.SIGHUP)


def parse(description, log_help):
    """The peer's arguments and the command after them (a leading "--" dropped)."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--timeout", type=float, default=60, help="seconds before the command is stopped (default 60)")
    parser.add_argument("--log", help=log_help)
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no command")
    return args, command


def serve(server):
    """The server, serving on a thread of its own from now on: only a serving server may be shut
    down, as shutdown waits on its loop."""
    threading.Thread(target=server.serve_forever, args=(0.1,), daemon=True).start()
    return server


def shut(servers, peer):
    """Sets the peer's stop event first (when there is a peer), so no stalled or paced answer holds
    a server's shutdown, then shuts each server down."""
    if peer:
        peer.stop.set()
    for server in servers:
        server.shutdown()
        server.server_close()


def exit_code(rc):
    """A child ended by signal N (rc -N) exits as a shell would report it, 128 + N."""
    return rc if rc >= 0 else 128 - rc


class Run:
    """COMMAND run once, stopped at `deadline` (timeout seconds from now).

    Inside `with run:` SIGTERM, SIGINT and SIGHUP raise ptyport.Stopped, which ends the block
    with rc 128 + the signal. Leaving the block ignores them from then on and stops the child,
    so that the peer's own clean-up after the block is never cut short.
    """

    def __init__(self, name, command, timeout):
        self.name, self.command, self.timeout = name, command, timeout
        self.deadline = time.monotonic() + timeout
        self.child = None
        self.rc = None

    def __enter__(self):
        for signum in SIGNALS:
            signal.signal(signum, ptyport.on_signal)
        return self

    def __exit__(self, kind, value, traceback):
        stopped = isinstance(value, ptyport.Stopped)
        if stopped:
            self.rc = 128 + value.args[0]
        for signum in SIGNALS:
            signal.signal(signum, signal.SIG_IGN)
        if self.child is not None:
            ptyport.stop(self.child)
        return stopped

    def wait(self, env):
        """Runs the command with `env` until it ends or the deadline passes (rc TIMED_OUT)."""
        self.child = subprocess.Popen(self.command, env=env)
        try:
            self.rc = self.child.wait(max(0.0, self.deadline - time.monotonic()))
            if self.rc != 0:
                # A program can fail after its last word (at its exit): the code tells how.
                print("%s: %s ended with exit code %d" % (self.name, " ".join(self.command), self.rc),
                      file=sys.stderr)
        except subprocess.TimeoutExpired:
            print("%s: stopping %s after %g s" % (self.name, self.command[0], self.timeout), file=sys.stderr)
            ptyport.stop(self.child)
            self.rc = ptyport.TIMED_OUT

    def exit_code(self):
        return exit_code(self.rc)
