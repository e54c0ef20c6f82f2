#!/usr/bin/env bash
# setup's start-up, what a user waits for before the engine runs: a silent run of setup.exe
# on a small sample package (it copies itself to a temporary folder, runs that copy, loads
# the sample engine and drives it to its end, then cleans up), beside the floor of a program
# that only starts a copy of itself through the shell and waits for it. Medians of 5 runs
# each. Usage: setup_start_bench.sh BUILD_DIR
set -euo pipefail
build=$1
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/setup_start_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
python3 "$root/tools/setup_package.py" --out "$work/media" --bin "$build/bin" --result 7 >/dev/null
cp "$build/bin/setup.exe" "$work/media/"
cp "$build/bin/relaunch_floor.exe" "$work/"
python3 - "$build" "$work" <<'PY'
import subprocess, sys, time
build, work = sys.argv[1], sys.argv[2]
def windows(path):
    return "Z:" + path.replace("/", "\\")
def median_seconds(command):
    times = []
    for _ in range(5):
        start = time.perf_counter()
        subprocess.run(["wine"] + command, check=False, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return sorted(times)[2]
# One start of each, not counted: Wine maps the programs and their libraries on first use.
median_seconds([windows(work + "/relaunch_floor.exe")])
floor = median_seconds([windows(work + "/relaunch_floor.exe")])
run = median_seconds([windows(work + "/media/setup.exe"), "-s"])
print("  setup.exe -s %.0f ms, a relaunch and nothing else %.0f ms, setup / floor = %.2f" % (run * 1000, floor * 1000, run / floor))
PY
