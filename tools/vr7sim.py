#!/usr/bin/env python3
"""The simulated VR7 instrument, for the length of one command.

    vr7sim.py [--com N] [--first N] [--timeout S] [--dir DIR] -- COMMAND [ARG...]

The instrument listens on two links at once: a pty linked as $WINEPREFIX/dosdevices/comN
(the serial link) and a TCP socket on 127.0.0.1 (the USB link: the stand-in ftd2xx.dll
connects to it when a device is opened). COMMAND runs with

    TAVRIN_TEST_COM   the COM number of the serial link (with --ports 2, TAVRIN_TEST_COM2
                      names a second one, served by the same instrument)
    TAVRIN_TEST_PTS   the pty's number (for its modem lines, see tools/ptymodem)
    TAVRIN_PEER_TCP   host:port of the USB link
    TAVRIN_PEER_DIR   the control folder (a Unix path; Wine sees it under Z:)

The control folder holds:
    script      written by the test: how to answer, one step per command (below)
    transcript  every byte the instrument received, on any link, in order
    log         one line per command: the link and the command text

Each CR-ended command takes the next step of the script; when the steps run out, the
default answer is given ("READY" CR LF until a "default" line says otherwise). A step is

    reply TEXT           send TEXT
    split A|B|C          send the pieces 50 ms apart (a line cut across writes)
    garbage N            send N printable bytes that form no reply
    lines N LENGTH       send N lines of LENGTH bytes each, LF included (a flood)
    stream RATE S TEXT   send TEXT RATE times a second for S seconds (a steady flood)
    bytes N TEXT         send N bytes of TEXT repeated (a stream that never ends a line)
    silence              send nothing
    delay MS STEP        the step, MS milliseconds later
    now STEP             not a command's answer: done as soon as the script is read
    default STEP         the answer once the steps run out
    STEP && STEP         both, in order, for the one command

TEXT takes \\r \\n \\t \\\\ \\| and \\xHH. The script is read again whenever it changes, and
its steps then start from the first. The instrument stops by itself after the bound.
"""
import argparse
import heapq
import os
import random
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import tty

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ptyport  # noqa: E402  (the pty's link and clean-up are the same)

READY = b"READY\r\n"
PIECE_GAP = 0.05
STREAM_TICK = 0.01  # a steady flood goes out in pieces this far apart


def unescape(text):
    out = bytearray()
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            nxt = text[i + 1]
            simple = {"r": b"\r", "n": b"\n", "t": b"\t", "\\": b"\\", "|": b"|"}
            if nxt in simple:
                out += simple[nxt]
                i += 2
                continue
            if nxt == "x" and i + 4 <= len(text):
                out.append(int(text[i + 2 : i + 4], 16))
                i += 4
                continue
        out += c.encode("latin-1")
        i += 1
    return bytes(out)


def split_pieces(text):
    """Splits at '|' that is not escaped."""
    pieces, current, i = [], "", 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            current += text[i : i + 2]
            i += 2
        elif text[i] == "|":
            pieces.append(current)
            current = ""
            i += 1
        else:
            current += text[i]
            i += 1
    pieces.append(current)
    return [unescape(p) for p in pieces]


class Step:
    """What to send for one command: pieces of bytes, each with its delay from the command."""

    def __init__(self, line, rng):
        self.writes = []  # (seconds after the command, bytes)
        for part in line.split(" && "):
            self.add(part, rng)

    def add(self, line, rng):
        words = line.split(" ", 1)
        verb, rest = words[0], words[1] if len(words) > 1 else ""
        at = 0.0
        while verb == "delay":
            ms, _, remainder = rest.partition(" ")
            at += int(ms) / 1000.0
            words = remainder.split(" ", 1)
            verb, rest = words[0], words[1] if len(words) > 1 else ""
        if verb == "reply":
            self.writes.append((at, unescape(rest)))
        elif verb == "split":
            for n, piece in enumerate(split_pieces(rest)):
                self.writes.append((at + n * PIECE_GAP, piece))
        elif verb == "garbage":
            junk = bytes(rng.choice(b"!#$%&*+-/0123456789:;<=>@ABCDEFGHIJKLMNOPQRSTUVWXYZ^_abcdefghijklmnopqrstuvwxyz")
                         for _ in range(int(rest)))
            self.writes.append((at, junk))
        elif verb == "lines":
            count, _, length = rest.partition(" ")
            body = b"".join(b"%s\n" % (b"L%07d" % n + b"-" * (int(length) - 9))[: int(length) - 1]
                            for n in range(int(count)))
            self.writes.append((at, body))
        elif verb == "stream":
            rate, seconds, text = rest.split(" ", 2)
            line, rate, ticks = unescape(text), float(rate), round(float(seconds) / STREAM_TICK)
            for tick in range(ticks):
                # As many as the rate has owed since the start, so the count is exact.
                count = int((tick + 1) * STREAM_TICK * rate) - int(tick * STREAM_TICK * rate)
                if count:
                    self.writes.append((at + tick * STREAM_TICK, line * count))
        elif verb == "bytes":
            count, _, text = rest.partition(" ")
            pattern, count = unescape(text), int(count)
            self.writes.append((at, (pattern * (count // len(pattern) + 1))[:count]))
        elif verb == "silence":
            pass
        else:
            raise ValueError("vr7sim: unknown step %r" % line)


class Script:
    def __init__(self, path):
        self.path = path
        self.stamp = None
        self.steps = []
        self.now = []
        self.default = Step("reply READY\\r\\n", random.Random(0))
        self.next = 0

    def refresh(self):
        """Reads the script again when it changed; returns the steps to run at once."""
        try:
            st = os.stat(self.path)
            stamp = (st.st_mtime_ns, st.st_size)
        except FileNotFoundError:
            stamp = None
        if stamp == self.stamp:
            return []
        self.stamp = stamp
        rng = random.Random(7)
        self.steps, self.now, self.next = [], [], 0
        self.default = Step("reply READY\\r\\n", rng)
        if stamp is None:
            return []
        with open(self.path, encoding="latin-1") as f:
            for raw in f.read().splitlines():
                line = raw.strip("\r")
                if not line or line.startswith("#"):
                    continue
                if line.startswith("now "):
                    self.now.append(Step(line[4:], rng))
                elif line.startswith("default "):
                    self.default = Step(line[8:], rng)
                else:
                    self.steps.append(Step(line, rng))
        return self.now

    def take(self):
        if self.next < len(self.steps):
            self.next += 1
            return self.steps[self.next - 1]
        return self.default


class Link:
    """One end the instrument talks on: the pty master or an accepted socket."""

    def __init__(self, name, fd, sock=None):
        self.name, self.fd, self.sock = name, fd, sock
        self.inbox = b""
        self.outbox = bytearray()  # taken from the front cheaply, however much waits
        self.closed = False

    def read(self):
        try:
            data = self.sock.recv(65536) if self.sock else os.read(self.fd, 65536)
        except (BlockingIOError, InterruptedError):
            return b""
        except OSError:
            data = b""
        if not data and self.sock:
            self.closed = True
        return data

    def flush(self):
        if not self.outbox:
            return
        try:
            piece = memoryview(self.outbox)[:1 << 20]
            try:
                n = self.sock.send(piece) if self.sock else os.write(self.fd, piece)
            finally:
                piece.release()
            del self.outbox[:n]
        except (BlockingIOError, InterruptedError):
            pass
        except OSError:
            self.closed = True


class Instrument:
    def __init__(self, folder):
        self.script = Script(os.path.join(folder, "script"))
        self.transcript = open(os.path.join(folder, "transcript"), "wb", buffering=0)
        self.log = open(os.path.join(folder, "log"), "w", buffering=1)
        self.timed = []  # a heap of (due time, order, link, bytes)
        self.order = 0

    def schedule(self, step, link, now):
        for at, data in step.writes:
            if at <= 0:
                link.outbox += data
            else:
                self.order += 1
                heapq.heappush(self.timed, (now + at, self.order, link, data))

    def refresh(self, links, now):
        """Reads a changed script; its "now" steps go out on every open link."""
        for step in self.script.refresh():
            for link in links:
                self.schedule(step, link, now)

    def received(self, link, data, links, now):
        self.transcript.write(data)
        link.inbox += data
        while b"\r" in link.inbox:
            command, _, link.inbox = link.inbox.partition(b"\r")
            self.log.write("%s %s\n" % (link.name, command.decode("latin-1")))
            self.refresh(links, now)
            self.schedule(self.script.take(), link, now)

    def due(self, now):
        while self.timed and self.timed[0][0] <= now:
            _, _, link, data = heapq.heappop(self.timed)
            if not link.closed:
                link.outbox += data

    def wait_time(self, now):
        return self.timed[0][0] if self.timed else None

    def close(self):
        self.transcript.close()
        self.log.close()


def serve(instrument, masters, listener, child, deadline):
    """Answers on all links until the child ends (True) or the deadline passes (False)."""
    links = [Link("serial" if n == 0 else "serial%d" % (n + 1), m) for n, m in enumerate(masters)]
    child_fd = os.pidfd_open(child.pid)
    try:
        while child.poll() is None:
            now = time.monotonic()
            if now >= deadline:
                return False
            # A link that connected is taken before the script is looked at: a test that
            # opened its port and then wrote a "now" step means that link too.
            while True:
                try:
                    sock, _ = listener.accept()
                except (BlockingIOError, InterruptedError):
                    break
                sock.setblocking(False)
                sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                links.append(Link("usb", sock.fileno(), sock))
            links = [l for l in links if not l.closed]
            instrument.due(now)
            instrument.refresh(links, now)
            poller = select.poll()
            poller.register(child_fd, select.POLLIN)
            poller.register(listener, select.POLLIN)
            for link in links:
                poller.register(link.fd, select.POLLIN | (select.POLLOUT if link.outbox else 0))
            wake = instrument.wait_time(now)
            timeout = deadline - now if wake is None else min(deadline, wake) - now
            # The script may be written at any time; a short period notices a "now" step.
            timeout = min(timeout, 0.05)
            events = dict(poller.poll(max(timeout, 0) * 1000))
            now = time.monotonic()
            for link in list(links):
                ev = events.get(link.fd, 0)
                if ev & (select.POLLIN | select.POLLHUP | select.POLLERR):
                    data = link.read()
                    if data:
                        instrument.received(link, data, links, now)
                if link.outbox and ev & select.POLLOUT:
                    link.flush()
                if link.closed and link.sock:
                    link.sock.close()
        return True
    finally:
        os.close(child_fd)
        for link in links:
            if link.sock:
                link.sock.close()


def main():
    parser = argparse.ArgumentParser(description="Runs a command with the simulated VR7 on a COM port and a TCP port.")
    parser.add_argument("--com", type=int, help="COM port number (default: first free from %d)" % ptyport.FIRST_FREE_COM)
    parser.add_argument("--first", type=int, default=ptyport.FIRST_FREE_COM,
                        help="lowest number to take for a port not given by --com (default %d)" % ptyport.FIRST_FREE_COM)
    parser.add_argument("--timeout", type=float, default=60, help="seconds before the command is stopped (default 60)")
    parser.add_argument("--dir", help="control folder (default: a new temporary one, removed at the end)")
    parser.add_argument("--ports", type=int, default=1, help="serial links to make (default 1)")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no command")
    prefix = os.environ.get("WINEPREFIX")
    if not prefix or not os.path.isdir(os.path.join(prefix, "dosdevices")):
        raise SystemExit("vr7sim: no Wine prefix with dosdevices; run through tools/session.sh")

    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(signum, ptyport.on_signal)

    own_folder = args.dir is None
    folder = tempfile.mkdtemp(prefix="vr7sim-") if own_folder else os.path.abspath(args.dir)
    os.makedirs(folder, exist_ok=True)
    for name in ("script", "transcript", "log"):
        if os.path.exists(os.path.join(folder, name)):
            os.remove(os.path.join(folder, name))

    ptys = []
    for _ in range(max(1, args.ports)):
        master, slave = os.openpty()
        tty.setraw(slave)
        os.set_blocking(master, False)
        pts = int(os.path.basename(os.ttyname(slave)))
        ptyport.remove_line_files(pts)
        ptys.append((master, slave, pts))
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    listener.setblocking(False)
    instrument = Instrument(folder)
    links = []
    child = None
    try:
        env = dict(os.environ, TAVRIN_PEER_TCP="127.0.0.1:%d" % listener.getsockname()[1], TAVRIN_PEER_DIR=folder)
        for n, (master, slave, pts) in enumerate(ptys):
            number = ptyport.link_port(os.path.join(prefix, "dosdevices"), os.ttyname(slave), args.com if n == 0 else None,
                                       args.first)
            links.append(os.path.join(prefix, "dosdevices", "com%d" % number))
            suffix = "" if n == 0 else str(n + 1)
            env["TAVRIN_TEST_COM" + suffix] = str(number)
            env["TAVRIN_TEST_PTS" + suffix] = str(pts)
        child = subprocess.Popen(command, env=env)
        if serve(instrument, [m for m, _, _ in ptys], listener, child, time.monotonic() + args.timeout):
            rc = child.returncode
        else:
            print("vr7sim: stopping %s after %g s" % (command[0], args.timeout), file=sys.stderr)
            ptyport.stop(child)
            rc = ptyport.TIMED_OUT
    except ptyport.Stopped as stopped:
        rc = 128 + stopped.args[0]
    finally:
        for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            signal.signal(signum, signal.SIG_IGN)
        if child is not None:
            ptyport.stop(child)
        instrument.close()
        listener.close()
        for link in links:
            if os.path.islink(link):
                os.remove(link)
        for master, slave, pts in ptys:
            os.close(master)
            os.close(slave)
            ptyport.remove_line_files(pts)
        if own_folder:
            shutil.rmtree(folder, ignore_errors=True)
    return rc if rc >= 0 else 128 - rc


if __name__ == "__main__":
    sys.exit(main())
