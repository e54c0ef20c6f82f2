#!/usr/bin/env python3
"""An HTTP and an HTTPS server on loopback, for the length of one command.

    httppeer.py [--timeout S] [--log FILE] -- COMMAND [ARG...]

Serves HTTP/1.1 (keep-alive) on 127.0.0.1 at one ephemeral port and HTTPS at another, with a
certificate for 127.0.0.1 and localhost made at start-up by `openssl` (self-signed: clients
turn verification off). COMMAND runs with

    TAVRIN_HTTP_PORT      the HTTP port
    TAVRIN_HTTPS_PORT     the HTTPS port
    TAVRIN_HTTP_LOG       with --log: the log as Wine sees it (Z:\\...)
    TAVRIN_HTTP_LOG_UNIX  with --log: the log's Unix path

FILE may contain "{pid}", replaced by this process's id, so that parallel runs keep apart; it
is emptied at start-up. For every request the log gets, before any byte of the answer is sent,
the request line and each header line as received, CR LF ended, then an empty line.

Paths, for GET and HEAD; byte i of every data body is i % 251:
    /data/N          N bytes, Last-Modified, Accept-Ranges; "Range: bytes=A-" and
                     "bytes=A-B" give 206, a range that starts at or beyond N gives 416
                     (other range forms are ignored: 200 and the whole body)
    /nolength/N      N bytes, no Content-Length, the connection closed after them
        both take "?piece=BYTES&gap=MS": the body in pieces of BYTES, MS ms apart
    every path takes "?delay=MS": the answer begins MS ms after the request came
    /stall           never answers; holds the connection until the client goes or we stop
    /stallbody/N     headers for N bytes, the first N/2 of them, then as /stall
    /drop/N          headers for N bytes, the first N/2 of them, then the connection is cut
        both honour Range as /data does: the half is of the range asked for
    /dropfirst/N     "?key=K": the first request of each K is a /drop, later ones a /data
    /status/NNN      status NNN; a short body, none for 1xx, 204 and 304 (a 1xx closes)
    /modified        a short body with Last-Modified
    anything else    404

Exits with COMMAND's exit code, 124 when it had to stop COMMAND at the bound.
"""
import http.server
import os
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import peerrun  # noqa: E402  (the command line and the bounded run, as ftppeer.py has them)
import ptyport  # noqa: E402

LAST_MODIFIED = "Wed, 21 Oct 2015 07:28:00 GMT"
SLICE = 64 * 1024
# Long enough that a slice may start at any phase of the 251-byte cycle.
PATTERN = memoryview(bytes(range(251)) * ((SLICE + 251) // 251 + 1))
STALL_CHECK = 0.1  # how often a stall looks whether its client went away


class Peer:
    """What all handlers share: the log, the stop event and the bound of every stall."""

    def __init__(self, log_path, deadline):
        self.log = open(log_path, "wb") if log_path else None
        self.lock = threading.Lock()
        self.stop = threading.Event()
        self.deadline = deadline
        self.seen = set()

    def first_time(self, key):
        """Whether no request of this key came before."""
        with self.lock:
            first = key not in self.seen
            self.seen.add(key)
            return first

    def record(self, request_line, headers):
        if not self.log:
            return
        block = request_line + "\r\n" + "".join("%s: %s\r\n" % item for item in headers.items()) + "\r\n"
        with self.lock:
            if not self.log.closed:  # a late request while the peer stops
                self.log.write(block.encode("latin-1", "replace"))
                self.log.flush()

    def pause(self, seconds):
        """Waits; True when the peer is stopping."""
        return self.stop.wait(min(seconds, max(0.0, self.deadline - time.monotonic())))

    def close(self):
        if self.log:
            with self.lock:
                self.log.close()


def whole(text):
    return int(text) if text.isascii() and text.isdigit() else None


def client_gone(connection):
    # The plain socket's peek, also under TLS: an end of stream shows there without taking bytes.
    try:
        return socket.socket.recv(connection, 1, socket.MSG_PEEK | socket.MSG_DONTWAIT) == b""
    except (BlockingIOError, InterruptedError):
        return False
    except OSError:
        return True


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "httppeer"
    disable_nagle_algorithm = True  # headers and each piece go out when written

    def setup(self):
        context = self.server.tls
        if context:
            # The handshake runs here, not in accept: a silent client holds only its own thread.
            self.request.settimeout(10)
            self.request = context.wrap_socket(self.request, server_side=True)
            self.request.settimeout(None)
        super().setup()

    def finish(self):
        try:
            super().finish()
        finally:
            if self.server.tls:
                self.request.close()  # the server closes only the plain socket, now detached

    def handle(self):
        try:
            super().handle()
        except (ConnectionError, ssl.SSLError, TimeoutError):
            self.close_connection = True

    def parse_request(self):
        if not super().parse_request():
            return False
        self.server.peer.record(self.requestline, self.headers)
        return True

    def handle_expect_100(self):
        return True  # an interim answer would go out before the request is in the log

    def log_message(self, *args):
        pass

    def do_HEAD(self):
        self.answer(with_body=False)

    def do_GET(self):
        self.answer(with_body=True)

    def answer(self, with_body):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        parts = url.path.strip("/").split("/")
        self.with_body = with_body
        self.piece = whole(query.get("piece", ["0"])[0]) or 0
        self.gap = (whole(query.get("gap", ["0"])[0]) or 0) / 1000.0
        name, number = parts[0], whole(parts[1]) if len(parts) == 2 else None
        delay = whole(query.get("delay", ["0"])[0]) or 0
        if delay and self.server.peer.pause(delay / 1000.0):
            raise ConnectionAbortedError("stopping")
        if len(parts) == 1 and name == "stall":
            self.stall()
        elif len(parts) == 1 and name == "modified":
            self.text(200, "modified\n", [("Last-Modified", LAST_MODIFIED)])
        elif number is None:
            self.text(404, "not found\n")
        elif name == "data":
            self.data(number)
        elif name == "nolength":
            self.head(200, None, [("Connection", "close")])
            self.body(0, number)
            self.close_connection = True
        elif name == "dropfirst" and not self.server.peer.first_time(query.get("key", [""])[0]):
            self.data(number)
        elif name in ("stallbody", "drop", "dropfirst"):
            span = self.range_of(number)
            if span is None:
                return
            start, end, _ = span
            self.ranged_head(span, number)
            self.body(start, start + (end - start) // 2)
            if name == "stallbody":
                self.stall()
            else:
                self.connection.shutdown(socket.SHUT_RDWR)
                self.connection.close()
            self.close_connection = True
        elif name == "status" and 100 <= number <= 599:
            if number < 200 or number in (204, 304):
                self.head(number, None)
                self.close_connection = self.close_connection or number < 200  # a 1xx is no end
            else:
                self.text(number, "status %d\n" % number)
        else:
            self.text(404, "not found\n")

    def range_of(self, size):
        """(start, end, ranged) that the Range header asks for; None once a 416 has been sent."""
        wanted = self.headers.get("Range", "")
        if wanted.startswith("bytes="):
            first, _, given = wanted[6:].strip().partition("-")
            first, last = whole(first), whole(given) if given else None  # "A-": A to the end
            if first is not None and (not given or last is not None and last >= first):
                if first >= size:
                    self.text(416, "range not satisfiable\n", [("Content-Range", "bytes */%d" % size)])
                    return None
                return first, size if last is None else min(size, last + 1), True
        return 0, size, False

    def ranged_head(self, span, size):
        start, end, ranged = span
        extra = [("Last-Modified", LAST_MODIFIED), ("Accept-Ranges", "bytes")]
        if ranged:
            extra.append(("Content-Range", "bytes %d-%d/%d" % (start, end - 1, size)))
        self.head(206 if ranged else 200, end - start, extra)

    def data(self, size):
        span = self.range_of(size)
        if span is not None:
            self.ranged_head(span, size)
            self.body(span[0], span[1])

    def text(self, status, text, extra=()):
        body = text.encode("ascii")
        self.head(status, len(body), [("Content-Type", "text/plain")] + list(extra))
        if self.with_body:
            self.wfile.write(body)

    def head(self, status, length, extra=()):
        self.send_response(status)
        if length is not None:
            self.send_header("Content-Length", str(length))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()

    def body(self, start, end):
        """Sends bytes [start, end) of the pattern, in pieces when the query asked for them."""
        if not self.with_body:
            return
        while start < end:
            piece_end = min(end, start + self.piece) if self.piece else end
            while start < piece_end:
                n = min(SLICE, piece_end - start)
                self.wfile.write(PATTERN[start % 251:start % 251 + n])
                start += n
            if start < end and self.server.peer.pause(self.gap):
                raise ConnectionAbortedError("stopping")

    def stall(self):
        peer = self.server.peer
        while not peer.pause(STALL_CHECK) and time.monotonic() < peer.deadline:
            if client_gone(self.connection):
                break
        self.close_connection = True


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    block_on_close = False
    request_queue_size = 64  # clients that connect at once wait for no retried handshake

    def __init__(self, peer, tls):
        self.peer, self.tls = peer, tls
        super().__init__(("127.0.0.1", 0), Handler)

    def handle_error(self, request, client_address):
        if not isinstance(sys.exc_info()[1], (ConnectionError, ssl.SSLError, TimeoutError)):
            super().handle_error(request, client_address)


def make_certificate(folder):
    key, cert = os.path.join(folder, "key.pem"), os.path.join(folder, "cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-keyout", key, "-out", cert, "-subj", "/CN=127.0.0.1",
                    "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost"],
                   check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                   timeout=60)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return context


def main():
    args, command = peerrun.parse("Runs a command with an HTTP and an HTTPS server on loopback.",
                                  "file that receives every request's line and headers")
    run = peerrun.Run("httppeer", command, args.timeout)
    folder = tempfile.mkdtemp(prefix="httppeer-")
    servers, peer = [], None
    try:
        with run:
            try:
                tls = make_certificate(folder)
                log = os.path.abspath(args.log.replace("{pid}", str(os.getpid()))) if args.log else None
                # Stalls are bounded a little beyond the command, so stopping it never waits on them.
                peer = Peer(log, run.deadline + ptyport.GRACE_SECONDS)
                for context in (None, tls):
                    servers.append(peerrun.serve(Server(peer, context)))
                env = dict(os.environ, TAVRIN_HTTP_PORT=str(servers[0].server_address[1]),
                           TAVRIN_HTTPS_PORT=str(servers[1].server_address[1]))
                if log:
                    env.update(TAVRIN_HTTP_LOG="Z:" + log.replace("/", "\\"), TAVRIN_HTTP_LOG_UNIX=log)
                run.wait(env)
            except subprocess.SubprocessError as failed:
                print("httppeer: no certificate: %s" % failed, file=sys.stderr)
                run.rc = 1
    finally:
        peerrun.shut(servers, peer)
        if peer:
            peer.close()
        shutil.rmtree(folder, ignore_errors=True)
    return run.exit_code()


if __name__ == "__main__":
    sys.exit(main())
