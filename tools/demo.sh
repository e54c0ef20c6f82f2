#!/usr/bin/env bash
# The main job: build tavrin and run it in the test environment. It shows the default test
# as the instrument would receive it; the screen is saved as build/demo/tavrin.png.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
bash "$root/tools/build.sh" "$build"
mkdir -p "$build/demo"
bash "$root/tools/session.sh" "$build" bash -c '
  set -euo pipefail
  build=$1
  wine "$build/bin/tavrin.exe" </dev/null >/dev/null 2>&1 &
  program=$!
  wine "$build/bin/wintool.exe" wait Tavrin 30000
  echo "tavrin shows:"
  wine "$build/bin/wintool.exe" text Tavrin | tr -d "\r"
  import -window root "$build/demo/tavrin.png"
  wine "$build/bin/wintool.exe" close Tavrin
  wait "$program"
  echo "screenshot: $build/demo/tavrin.png"
' demo "$build"
