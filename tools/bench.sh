#!/usr/bin/env bash
# Builds and runs the benchmarks in the test environment; each prints its floor beside it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
bash "$root/tools/build.sh" "$build"
bash "$root/tools/session.sh" "$build" bash -c '
  set -euo pipefail
  root=$1 build=$2
  echo "== serial input path (64 MiB through a fake device)"
  wine "$build/bin/serial_input_bench.exe"
  echo "== serial receive through a pty (64 MiB of 64-byte lines, medians of 3 runs)"
  python3 "$root/tools/vr7sim.py" --timeout 300 -- "$root/tools/wine-run" "$build/bin/serial_receive_bench.exe"
  echo "== one Send Test through the main window, serial and USB links"
  python3 "$root/tools/vr7sim.py" --first 60 --ports 2 --timeout 300 -- "$root/tools/wine-run" "$build/bin/send_test_bench.exe"
  echo "== 64 MiB over loopback HTTP: qv::file beside a minimal WinINet reader and curl (medians of 3)"
  python3 "$root/tools/httppeer.py" --timeout 600 -- bash "$root/bench/http_read_bench.sh" "$build"
  echo "== MD5 of a 256 MiB file in 16 KiB qv::file reads, beside openssl dgst -md5 (medians of 3)"
  bash "$root/bench/md5_bench.sh" "$build"
  echo "== a 256 MiB package unpacked by CopyDisk1Files (16 KiB blocks) beside CopyFileW of the same bytes (medians of 3)"
  wine "$build/bin/disk1_extract_bench.exe"
  echo "== setup.exe started silently on a sample package to its engine'"'"'s end, beside a bare relaunch (medians of 5)"
  bash "$root/bench/setup_start_bench.sh" "$build"
' bench "$root" "$build"
