#!/usr/bin/env python3
"""tools/runner's "--print": the whole exit code of the program it ran, on one line of its
standard output. Runs under tools/session.sh.

    python3 tests/tools/test_runner_print.py --wine-run tools/wine-run --runner BUILD/bin/runner.exe
"""
import argparse
import subprocess
import sys
import unittest

WINE_RUN = RUNNER = None


class RunnerPrint(unittest.TestCase):
    def run_runner(self, *args):
        return subprocess.run([WINE_RUN, RUNNER, *args], stdin=subprocess.DEVNULL, capture_output=True, timeout=60)

    def test_prints_the_whole_code(self):
        for code, line in ((0, "exit code: 0 (0x00000000)"), (3, "exit code: 3 (0x00000003)"),
                           (-5001, "exit code: -5001 (0xffffec77)"),
                           (-2147213312, "exit code: -2147213312 (0x80042000)")):
            with self.subTest(code):
                done = self.run_runner("--print", "cmd.exe", "/c", "exit", str(code))
                self.assertEqual(line + "\n", done.stdout.decode().replace("\r\n", "\n"), done.stderr)

    def test_prints_nothing_without_it(self):
        done = self.run_runner("cmd.exe", "/c", "exit", "7")
        self.assertEqual((7, b""), (done.returncode, done.stdout))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--runner", required=True)
    known, rest = parser.parse_known_args()
    WINE_RUN, RUNNER = known.wine_run, known.runner
    unittest.main(argv=[sys.argv[0], *rest])
