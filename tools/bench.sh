#!/usr/bin/env bash
# Builds and runs the benchmarks in the test environment.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
bash "$root/tools/build.sh" "$build"
bash "$root/tools/session.sh" "$build" wine "$build/bin/serial_input_bench.exe" "$@"
