#!/usr/bin/env python3
"""A whole trace through an independent decoder: trace_writer writes known events twice into
one file, tools/tracedecode.py reads them back. The second run must append without a header.

    trace_roundtrip.py --wine-run WINE_RUN --writer EXE --decoder TRACEDECODE --work FOLDER
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

BOUND = 30  # seconds for any one program


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run(command):
    done = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, timeout=BOUND)
    return done.returncode, done.stdout, done.stderr


def expected_events(run_number):
    return [
        "EXEProcessBegin|RURavurInit|EXE=C:\\Setup\\setup.exe",
        "RURavurDLLOp|Step|first line__second line",
        "Empty|Details|",
        "Caf\u00e9|Na\u00efve|Gr\u00fc\u00dfe=\u00e9t\u00e9\tn=42",
        "Comment||run=%d" % run_number,
    ]


HEADER = [
    re.compile(r"HEADER FormatVersion=00000112\\r\\n\\r\\n$"),
    re.compile(r"HEADER Copyright \(C\) 2026 Corvane\. All rights reserved\.\\r\\n\\r\\n$"),
    re.compile(r"HEADER TraceStarted: \d\d/\d\d/\d{4} \d\d:\d\d:\d\d\\r\\n$"),
    re.compile(r"HEADER SetupExe: .*\\setup_trace_writer\.exe\\r\\n$", re.IGNORECASE),
    re.compile(r"HEADER SetupExeVersion: 3\.1\.4\.15\\r\\n$"),
    re.compile(r"HEADER \\r\\nTraceData:\\r\\n$"),
    re.compile(r"HEADER Category\|SubCategory\|Details\\r\\n$"),
]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--writer", required=True)
    parser.add_argument("--decoder", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()

    os.makedirs(args.work, exist_ok=True)
    folder = tempfile.mkdtemp(prefix="trace_roundtrip_", dir=args.work)
    trace = os.path.join(folder, "trace.bin")
    writer = [args.wine_run, args.writer]
    failures = []
    try:
        codepages = set()
        for run_number in (1, 2):
            rc, out, err = run(writer + ["write", windows_path(trace), str(run_number)])
            if rc != 0:
                print("writer run %d: exit %d\n%s" % (run_number, rc, err.decode(errors="replace")), file=sys.stderr)
                return 1
            found = re.search(rb"acp=(\d+)", out)
            if not found:
                print("writer run %d said no code page: %r" % (run_number, out), file=sys.stderr)
                return 1
            codepages.add(int(found.group(1)))
        if len(codepages) != 1:
            failures.append("the runs had different code pages: %s" % sorted(codepages))
        encoding = "cp%d" % codepages.pop()

        rc, out, err = run([sys.executable, args.decoder, "--events", trace])
        if rc != 0:
            print("tracedecode --events: exit %d\n%s" % (rc, err.decode(errors="replace")), file=sys.stderr)
            return 1
        lines = out.decode(encoding).split("\n")
        if lines and lines[-1] == "":
            lines.pop()
        headers = [line for line in lines if line.startswith("HEADER ")]
        if len(headers) != len(HEADER):
            failures.append("%d header lines, wanted %d (one header for both runs)" % (len(headers), len(HEADER)))
        for got, wanted in zip(lines, HEADER):
            if not wanted.match(got):
                failures.append("header line %r does not match %s" % (got, wanted.pattern))
        events = lines[len(HEADER):]
        wanted_events = expected_events(1) + expected_events(2)
        if events != wanted_events:
            failures.append("events:\n  got    %r\n  wanted %r" % (events, wanted_events))

        # The plain payloads: the Python decoder and DecodeTraceFile agree byte for byte.
        plain = os.path.join(folder, "plain.txt")
        native = os.path.join(folder, "native.txt")
        rc, _, err = run([sys.executable, args.decoder, trace, plain])
        if rc != 0:
            failures.append("tracedecode: exit %d %s" % (rc, err.decode(errors="replace")))
        rc, _, err = run(writer + ["decode", windows_path(trace), windows_path(native)])
        if rc != 0:
            failures.append("DecodeTraceFile: exit %d" % rc)
        if not failures:
            with open(plain, "rb") as a, open(native, "rb") as b:
                python_bytes, native_bytes = a.read(), b.read()
            if python_bytes != native_bytes:
                failures.append("the two decoders differ: %d and %d bytes" % (len(python_bytes), len(native_bytes)))
            tail = "".join(event + "\r\n" for event in wanted_events)
            if not python_bytes.endswith(tail.encode(encoding)):
                failures.append("the plain payloads do not end in the events")
    finally:
        run(writer + ["remove"])
        shutil.rmtree(folder, ignore_errors=True)

    for failure in failures:
        print("FAIL: " + failure, file=sys.stderr)
    if not failures:
        print("trace round trip: 2 runs, %d events, one header" % len(wanted_events))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
