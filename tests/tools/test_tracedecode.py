#!/usr/bin/env python3
"""tools/tracedecode.py against trace files made by a scrambler of the test's own.

    python3 tests/tools/test_tracedecode.py
"""
import os
import struct
import subprocess
import sys
import tempfile
import unittest

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "tracedecode.py")


def scramble(text):
    out = bytearray()
    for i, b in enumerate(text):
        t = (b + i % 71) % 256
        t = (t << 2 | t >> 6) & 0xFF
        out.append(t ^ 0x6C)
    return bytes(out)


def record(text):
    return struct.pack("<I", len(text)) + scramble(text)


class TraceDecode(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.path = os.path.join(self.folder.name, "trace.bin")

    def tearDown(self):
        self.folder.cleanup()

    def decode(self, data, *options):
        with open(self.path, "wb") as f:
            f.write(data)
        return subprocess.run([sys.executable, TOOL, *options, self.path], capture_output=True, timeout=30)

    def test_records_come_back_as_written(self):
        texts = [b"abc", b"", bytes(range(256)) * 3, b"x" * 16384]
        done = self.decode(b"".join(record(t) for t in texts))
        self.assertEqual((done.returncode, done.stdout), (0, b"".join(texts)))
        out = os.path.join(self.folder.name, "out.bin")
        done = subprocess.run([sys.executable, TOOL, self.path, out], capture_output=True, timeout=30)
        with open(out, "rb") as f:
            self.assertEqual((done.returncode, done.stdout, f.read()), (0, b"", b"".join(texts)))

    def test_the_scramble_repeats_every_71_bytes_and_restarts_per_record(self):
        scrambled = scramble(b"=" * 100)
        self.assertEqual(scrambled[0], scrambled[71])
        self.assertEqual(len(set(scrambled[:71])), 71)
        # Two equal records scramble alike: the counter is the record's own.
        self.assertEqual(self.decode(record(b"abc") * 2).stdout, b"abcabc")

    def test_events_follow_their_header(self):
        texts = [b"Setup trace\r\n", b"Version 1.0\r\n", b"Category|SubCategory|Details\r\n",
                 b"Download|Begin|", b"http://127.0.0.1/data/5\r\n",
                 b"Download|End|", b"two\r\nlines\r\n", b"Install|Begin|"]
        done = self.decode(b"".join(record(t) for t in texts), "--events")
        self.assertEqual(done.returncode, 0)
        self.assertEqual(done.stdout.decode("latin-1").split("\n"), [
            "HEADER Setup trace\\r\\n",
            "HEADER Version 1.0\\r\\n",
            "HEADER Category|SubCategory|Details\\r\\n",
            "Download|Begin|http://127.0.0.1/data/5",
            "Download|End|two\\r\\nlines",
            "PARTIAL Install|Begin|",
            ""])

    def test_an_appended_file_has_events_only(self):
        done = self.decode(record(b"Run|Exit|") + record(b"0\r\n"), "--events")
        self.assertEqual((done.returncode, done.stdout), (0, b"Run|Exit|0\n"))

    def test_an_empty_file_is_empty(self):
        for options in ((), ("--events",)):
            done = self.decode(b"", *options)
            self.assertEqual((done.returncode, done.stdout, done.stderr), (0, b"", b""))

    def test_broken_records_are_refused_at_their_offset(self):
        good = record(b"abc")  # 7 bytes, so the broken record starts at offset 7
        cases = {
            "too long": good + struct.pack("<I", 16385) + b"\0" * 16385,
            "cut body": good + record(b"abcdef")[:-1],
            "cut length": good + b"\x03\0",
        }
        for name, data in cases.items():
            with self.subTest(name):
                done = self.decode(data)
                self.assertEqual((done.returncode, done.stdout), (3, b""))
                self.assertIn(b"offset 7", done.stderr)


if __name__ == "__main__":
    unittest.main()
