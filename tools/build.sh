#!/usr/bin/env bash
# Installs what is missing, then configures and builds the tree into BUILD_DIR (default build/).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
bash "$root/tools/packages.sh"
cmake -S "$root" -B "$build" -G Ninja >/dev/null
ninja -C "$build"
