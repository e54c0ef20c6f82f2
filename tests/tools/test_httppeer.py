#!/usr/bin/env python3
"""tools/httppeer.py as its clients see it.

    python3 tests/tools/test_httppeer.py

The peer's command is a small holder that reports the peer's environment and waits, so that
the test's own http.client does the talking.
"""
import http.client
import json
import os
import select
import signal
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "httppeer.py")
HOLDER = ("import json, os, sys; print(json.dumps(dict(os.environ, HOLDER_PID=str(os.getpid()))), flush=True); "
          "sys.exit(int(sys.stdin.readline() or 9))")
UNVERIFIED = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
UNVERIFIED.check_hostname = False
UNVERIFIED.verify_mode = ssl.CERT_NONE


def pattern(start, end):
    return bytes(i % 251 for i in range(start, end))


class Holder:
    """The peer running the holder; `env` is what the holder was given."""

    def __init__(self, *options, tmpdir=None):
        env = dict(os.environ, TMPDIR=tmpdir) if tmpdir else None
        self.peer = subprocess.Popen([sys.executable, TOOL, *options, "--", sys.executable, "-c", HOLDER],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
        ready, _, _ = select.select([self.peer.stdout], [], [], 30)
        if not ready:
            self.peer.kill()
            raise AssertionError("the peer's command did not start")
        self.env = json.loads(self.peer.stdout.readline())

    def connect(self, scheme, timeout=30):
        if scheme == "https":
            return http.client.HTTPSConnection("127.0.0.1", int(self.env["TAVRIN_HTTPS_PORT"]),
                                               timeout=timeout, context=UNVERIFIED)
        return http.client.HTTPConnection("127.0.0.1", int(self.env["TAVRIN_HTTP_PORT"]), timeout=timeout)

    def get(self, path, headers=None, scheme="http", method="GET", timeout=30):
        connection = self.connect(scheme, timeout)
        connection.request(method, path, headers=headers or {})
        return connection, connection.getresponse()

    def end(self, code):
        """The peer's exit code when its command exits with `code`."""
        self.peer.stdin.write(b"%d\n" % code)
        self.peer.stdin.close()
        self.peer.stdout.close()
        return self.peer.wait(30)


class Served(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.template = os.path.join(cls.folder.name, "requests-{pid}.log")
        cls.holder = Holder("--timeout", "90", "--log", cls.template)

    @classmethod
    def tearDownClass(cls):
        cls.holder.end(0)
        cls.folder.cleanup()

    def logged(self):
        with open(self.holder.env["TAVRIN_HTTP_LOG_UNIX"], "rb") as f:
            return f.read().decode("latin-1")

    def test_the_log_is_named_for_the_peer_and_for_wine(self):
        unix = self.template.replace("{pid}", str(self.holder.peer.pid))
        self.assertEqual(self.holder.env["TAVRIN_HTTP_LOG_UNIX"], unix)
        self.assertEqual(self.holder.env["TAVRIN_HTTP_LOG"], "Z:" + unix.replace("/", "\\"))

    def test_ranges_over_one_kept_connection(self):
        cases = [  # Range, status, first byte, end, Content-Range
            (None, 200, 0, 5000, None),
            ("bytes=1000-", 206, 1000, 5000, "bytes 1000-4999/5000"),
            ("bytes=1000-1999", 206, 1000, 2000, "bytes 1000-1999/5000"),
            ("bytes=4990-9999", 206, 4990, 5000, "bytes 4990-4999/5000"),
            ("bytes=0-0", 206, 0, 1, "bytes 0-0/5000"),
            ("bytes=5000-", 416, None, None, "bytes */5000"),
            ("bytes=-500", 200, 0, 5000, None),  # a form the peer does not take: the whole body
        ]
        for scheme in ("http", "https"):
            connection = self.holder.connect(scheme)
            for wanted, status, start, end, content_range in cases:
                with self.subTest(scheme=scheme, range=wanted):
                    connection.request("GET", "/data/5000", headers={"Range": wanted} if wanted else {})
                    response = connection.getresponse()
                    body = response.read()
                    self.assertEqual((response.status, response.getheader("Content-Range")), (status, content_range))
                    if start is not None:
                        self.assertEqual(body, pattern(start, end))
                        self.assertEqual(response.getheader("Content-Length"), str(end - start))
                        self.assertEqual(response.getheader("Accept-Ranges"), "bytes")
                    kept = connection.sock
            self.assertIs(connection.sock, kept)
            connection.close()

    def test_paths(self):
        cases = [  # method, path, status, body, headers that must be there (None: absent)
            ("HEAD", "/data/100", 200, b"", {"Content-Length": "100"}),
            ("GET", "/nolength/3000", 200, pattern(0, 3000), {"Content-Length": None, "Connection": "close"}),
            ("GET", "/status/404", 404, b"status 404\n", {"Content-Length": "11"}),
            ("GET", "/status/503", 503, b"status 503\n", {}),
            ("GET", "/status/204", 204, b"", {"Content-Length": None}),
            ("GET", "/status/304", 304, b"", {"Content-Length": None}),
            ("GET", "/modified", 200, b"modified\n", {"Last-Modified": "Wed, 21 Oct 2015 07:28:00 GMT"}),
            ("GET", "/data/12x", 404, b"not found\n", {}),
            ("GET", "/elsewhere", 404, b"not found\n", {}),
        ]
        for method, path, status, body, headers in cases:
            with self.subTest(path=path, method=method):
                connection, response = self.holder.get(path, method=method)
                self.assertEqual((response.status, response.read()), (status, body))
                for name, value in headers.items():
                    self.assertEqual(response.getheader(name), value, name)
                connection.close()

    def test_answers_cut_short(self):
        for scheme in ("http", "https"):
            with self.subTest(scheme=scheme):
                connection, response = self.holder.get("/drop/1000", scheme=scheme)
                with self.assertRaises(http.client.IncompleteRead) as cut:
                    response.read()
                self.assertEqual(cut.exception.partial, pattern(0, 500))
                connection.close()

                connection, response = self.holder.get("/stallbody/1000", scheme=scheme, timeout=1)
                self.assertEqual(response.read(500), pattern(0, 500))
                with self.assertRaises(TimeoutError):
                    response.read(1)
                connection.close()

                started = time.monotonic()
                with self.assertRaises(TimeoutError):
                    self.holder.get("/stall", scheme=scheme, timeout=1)
                self.assertGreaterEqual(time.monotonic() - started, 0.9)

    def test_pieces_come_apart_and_the_log_leads_them(self):
        for path, status, length in (("/data/1000", 206, "1000"), ("/nolength/1000", 200, None)):
            with self.subTest(path=path):
                probe = "%s-%d" % (path, time.monotonic_ns())
                started = time.monotonic()
                connection, response = self.holder.get(path + "?piece=100&gap=50",
                                                       headers={"X-Probe": probe, "Range": "bytes=0-"})
                # Only the headers are in: nine gaps of the body are still to come.
                self.assertIn("\r\nX-Probe: %s\r\nRange: bytes=0-\r\n\r\n" % probe, self.logged())
                self.assertEqual(response.read(), pattern(0, 1000))
                self.assertGreaterEqual(time.monotonic() - started, 0.45)
                self.assertEqual((response.status, response.getheader("Content-Length")), (status, length))
                connection.close()

    def test_blocks_of_parallel_requests_stay_whole(self):
        def client(n):
            for k in range(5):
                connection, response = self.holder.get("/data/%d?who=%d-%d" % (1000 + k, n, k),
                                                       headers={"X-Who": "%d-%d" % (n, k)})
                response.read()
                connection.close()

        threads = [threading.Thread(target=client, args=(n,)) for n in range(8)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(60)
        blocks = [b.split("\r\n") for b in self.logged().split("\r\n\r\n") if "?who=" in b]
        self.assertEqual(len(blocks), 40)
        for lines in blocks:
            who = lines[0].split("?who=")[1].split(" ")[0]
            self.assertEqual(lines[0], "GET /data/%d?who=%s HTTP/1.1" % (1000 + int(who[-1]), who))
            self.assertIn("X-Who: " + who, lines[1:])
            self.assertTrue(all(": " in line for line in lines[1:]), lines)

    def test_64_mib_in_one_answer(self):
        size = 64 << 20
        expected = (bytes(range(251)) * (size // 251 + 1))[:size]
        for scheme in ("http", "https"):
            with self.subTest(scheme=scheme):
                started = time.monotonic()
                connection, response = self.holder.get("/data/%d" % size, scheme=scheme)
                self.assertTrue(response.read() == expected)
                self.assertLess(time.monotonic() - started, 15)
                connection.close()


class Lifetime(unittest.TestCase):
    def run_peer(self, *arguments):
        started = time.monotonic()
        done = subprocess.run([sys.executable, TOOL, *arguments], capture_output=True, timeout=60)
        return done.returncode, time.monotonic() - started

    def test_exit_codes(self):
        fine = "import os, sys; sys.exit(7 if 'TAVRIN_HTTPS_PORT' in os.environ and 'TAVRIN_HTTP_LOG' not in os.environ else 1)"
        cases = [
            (["--", sys.executable, "-c", fine], 7),
            (["--", sys.executable, "-c", "import os; os.kill(os.getpid(), 9)"], 128 + 9),
            (["--timeout", "1", "--", "sleep", "30"], 124),
        ]
        for arguments, code in cases:
            with self.subTest(arguments[-1]):
                rc, seconds = self.run_peer(*arguments)
                self.assertEqual(rc, code)
                self.assertLess(seconds, 15)

    def test_a_signal_stops_everything_even_a_stall(self):
        with tempfile.TemporaryDirectory() as tmpdir:
            holder = Holder("--timeout", "60", tmpdir=tmpdir)
            self.assertEqual(len(os.listdir(tmpdir)), 1)  # the certificate's folder
            connection, response = holder.get("/stallbody/1000", timeout=30)
            self.assertEqual(response.read(500), pattern(0, 500))  # the handler now stalls
            holder.peer.send_signal(signal.SIGTERM)
            self.assertEqual(holder.peer.wait(15), 128 + signal.SIGTERM)
            with self.assertRaises(http.client.IncompleteRead):
                response.read()
            connection.close()
            self.assertEqual(os.listdir(tmpdir), [])
            with self.assertRaises(ProcessLookupError):
                os.kill(int(holder.env["HOLDER_PID"]), 0)
            holder.peer.stdin.close()
            holder.peer.stdout.close()


if __name__ == "__main__":
    unittest.main()
