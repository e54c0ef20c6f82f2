#!/usr/bin/env bash
# Installs what is missing, then configures and builds the tree into BUILD_DIR (default build/).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
bash "$root/tools/packages.sh"
toolchain="$root/cmake/mingw-$(bash "$root/tools/arch.sh").cmake"
# A folder configured for the other architecture starts again.
if [ -f "$build/CMakeCache.txt" ] && ! grep -qx "CMAKE_TOOLCHAIN_FILE:[A-Z]*=$toolchain" "$build/CMakeCache.txt"; then
  rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles"
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
ninja -C "$build"
