#!/usr/bin/env bash
# The whole test suite: install, build, and run every test under Wine in the test environment.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
bash "$root/tools/build.sh" "$build"
bash "$root/tools/session.sh" "$build" \
  ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 120
