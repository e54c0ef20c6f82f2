#!/usr/bin/env python3
"""A small FTP server on loopback, for the length of one command.

    ftppeer.py [--timeout S] [--log FILE] -- COMMAND [ARG...]

Serves one fixed tree on 127.0.0.1 at an ephemeral port, passive mode only. COMMAND runs with

    TAVRIN_FTP_PORT         the server
    TAVRIN_FTP_SLOW_PORT    the same server, every reply and listing sent in pieces, 20 ms apart
    TAVRIN_FTP_CLOSED_PORT  a port held here that never listens: a connection is refused

FILE ("{pid}" in it becomes this process's id) gets every command line, before its answer.

Users: "anonymous" or "ftp" with any password, "tester" with "secret"; any other pair gets 530.
The tree, listed as Unix "ls -l" lines in this order, every entry modified 2015-10-21 (an old
file's line shows the year, not the time of day):
    /pub/readme.txt   1234 bytes
    /pub/big.bin      5000000000 bytes, beyond 32 bits
    /pub/café.txt     77 bytes, a name outside ASCII, sent as Latin-1
    /pub/sub/         a folder holding notes.txt (10 bytes), then later.txt (20 bytes)
    /empty/           a folder with no entries
LIST of a file gives its line, of a folder or a pattern its entries; a missing path gets 550. Answered:
USER PASS SYST PWD CWD TYPE PASV LIST NLST NOOP QUIT; anything else (PORT, FEAT, ...) gets 502.

Exits with COMMAND's exit code, 124 when it had to stop COMMAND at the bound.
"""
import fnmatch
import os
import posixpath
import socket
import socketserver
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import peerrun  # noqa: E402  (the command line and the bounded run, as httppeer.py has them)

STAMP = "Oct 21  2015"
TREE = {
    "/": {"pub": None, "empty": None},
    "/pub": {"readme.txt": 1234, "big.bin": 5000000000, "caf\xe9.txt": 77, "sub": None},
    "/pub/sub": {"notes.txt": 10, "later.txt": 20},
    "/empty": {},
}
USERS = {"tester": "secret"}
PIECE, GAP = 7, 0.02
IDLE = 30  # seconds a control or data connection may be silent


def ls_line(name, size):
    if size is None:
        return "drwxr-xr-x    2 ftp      ftp          4096 %s %s\r\n" % (STAMP, name)
    return "-rw-r--r--    1 ftp      ftp      %10d %s %s\r\n" % (size, STAMP, name)


class Handler(socketserver.StreamRequestHandler):
    def setup(self):
        self.request.settimeout(IDLE)
        super().setup()
        self.cwd, self.user, self.logged_in, self.passive = "/", None, False, None

    def send(self, connection, text):
        data = text.encode("latin-1")
        step = PIECE if self.server.slow else max(1, len(data))
        for i in range(0, len(data), step):
            if i and self.server.peer.stop.wait(GAP):
                raise ConnectionAbortedError("stopping")
            connection.sendall(data[i:i + step])

    def reply(self, text):
        self.send(self.request, text + "\r\n")

    def handle(self):
        try:
            self.reply("220 ftppeer ready")
            while not self.server.peer.stop.is_set():
                line = self.rfile.readline(1024)
                if not line:
                    break
                line = line.decode("latin-1").rstrip("\r\n")
                self.server.peer.record(line)
                verb, _, argument = line.partition(" ")
                if not self.command(verb.upper(), argument):
                    break
        except (ConnectionError, TimeoutError, OSError):
            pass
        finally:
            if self.passive:
                self.passive.close()

    def command(self, verb, argument):
        """Answers one command; False ends the session."""
        if verb == "QUIT":
            self.reply("221 bye")
            return False
        if verb == "USER":
            self.user, self.logged_in = argument, False
            self.reply("331 password please")
        elif verb == "PASS":
            anonymous = self.user in ("anonymous", "ftp")
            self.logged_in = self.user is not None and (anonymous or USERS.get(self.user) == argument)
            self.reply("230 logged in" if self.logged_in else "530 login incorrect")
        elif verb == "NOOP":
            self.reply("200 ok")
        elif not self.logged_in:
            self.reply("530 log in first")
        elif verb == "SYST":
            self.reply("215 UNIX Type: L8")
        elif verb == "PWD":
            self.reply('257 "%s" is the current folder' % self.cwd)
        elif verb == "CWD":
            path = self.resolve(argument)
            self.cwd = path if path in TREE else self.cwd
            self.reply("250 folder changed" if path in TREE else "550 no such folder")
        elif verb == "TYPE":
            self.reply("200 type set" if argument.upper()[:1] in ("A", "I") else "504 type not served")
        elif verb == "PASV":
            if self.passive:
                self.passive.close()
            self.passive = socket.create_server(("127.0.0.1", 0))
            self.passive.settimeout(IDLE)
            port = self.passive.getsockname()[1]
            self.reply("227 Entering Passive Mode (127,0,0,1,%d,%d)" % (port >> 8, port & 255))
        elif verb in ("LIST", "NLST"):
            self.listing(verb, argument)
        else:
            self.reply("502 not served")
        return True

    def resolve(self, argument):
        words = [w for w in argument.split() if not w.startswith("-")]  # "LIST -la path"
        return posixpath.normpath(posixpath.join(self.cwd, words[-1] if words else "."))

    def listing(self, verb, argument):
        path = self.resolve(argument)
        folder, name = posixpath.split(path)
        if path in TREE:
            entries = list(TREE[path].items())
        elif folder in TREE and (name in TREE[folder] or any(c in name for c in "*?[")):
            entries = [(n, s) for n, s in TREE[folder].items() if fnmatch.fnmatchcase(n, name)]
        else:
            return self.reply("550 %s: no such file or folder" % argument)
        if not self.passive:
            return self.reply("425 use PASV first")
        self.reply("150 here comes the listing")
        data, _ = self.passive.accept()
        try:
            data.settimeout(IDLE)
            self.send(data, "".join(n + "\r\n" if verb == "NLST" else ls_line(n, s) for n, s in entries))
        finally:
            data.close()
            self.passive.close()
            self.passive = None
        self.reply("226 listing sent")


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    block_on_close = False
    allow_reuse_address = True

    def __init__(self, peer, slow):
        self.peer, self.slow = peer, slow
        super().__init__(("127.0.0.1", 0), Handler)


class Peer:
    def __init__(self, log_path):
        self.log = open(log_path, "w", encoding="latin-1", newline="\n") if log_path else None
        self.lock = threading.Lock()
        self.stop = threading.Event()

    def record(self, line):
        with self.lock:
            if self.log and not self.log.closed:  # a late command while the peer stops
                self.log.write(line + "\n")
                self.log.flush()


def main():
    args, command = peerrun.parse("Runs a command with a small FTP server on loopback.",
                                  "file that receives every command line received")
    run = peerrun.Run("ftppeer", command, args.timeout)
    servers, peer, closed = [], None, None
    try:
        with run:
            log = os.path.abspath(args.log.replace("{pid}", str(os.getpid()))) if args.log else None
            peer = Peer(log)
            for slow in (False, True):
                servers.append(peerrun.serve(Server(peer, slow)))
            closed = socket.socket()
            closed.bind(("127.0.0.1", 0))
            run.wait(dict(os.environ, TAVRIN_FTP_PORT=str(servers[0].server_address[1]),
                          TAVRIN_FTP_SLOW_PORT=str(servers[1].server_address[1]),
                          TAVRIN_FTP_CLOSED_PORT=str(closed.getsockname()[1])))
    finally:
        peerrun.shut(servers, peer)
        if closed:
            closed.close()
        if peer and peer.log:
            with peer.lock:
                peer.log.close()
    return run.exit_code()


if __name__ == "__main__":
    sys.exit(main())
