#!/usr/bin/env bash
# The main job: build everything, start the simulated VR7 on a pty linked as COM1, and run
# tavrin with that port chosen. With a display of your own (DISPLAY set and answering) the
# window shows there until you close it. Without one it runs under Xvfb: the demo presses
# "Erase Test", prints what the instrument received, saves the screen as
# build/demo/tavrin.png and closes the window. Closing the window stops the instrument.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
bash "$root/tools/build.sh" "$build"
mkdir -p "$build/demo"
export TAVRIN_USER_DISPLAY=1
bash "$root/tools/session.sh" "$build" \
  python3 "$root/tools/vr7sim.py" --com 1 --timeout 3600 --dir "$build/demo/vr7" -- bash -c '
  set -euo pipefail
  build=$1
  title="Tavrin V1.1 Build 5"
  # The saved port is index 1 of the list: "NONE", then COM1, the lowest present.
  appdata=$(wine cmd /c echo %APPDATA% </dev/null 2>/dev/null | tr -d "\r")
  settings=$(winepath -u "$appdata")/RUV/Tavrin/V1
  mkdir -p "$settings"
  printf "[COMMS]\r\nComPort=1\r\n[KOVA]\r\nLoadCell=0\r\n" >"$settings/tavrin.INI"
  : >"$TAVRIN_PEER_DIR/log"
  if [ -n "$TAVRIN_USER_DISPLAY" ]; then
    echo "tavrin is on your display, talking to the simulated VR7 on COM$TAVRIN_TEST_COM; close it to end."
    wine "$build/bin/tavrin.exe" </dev/null >/dev/null 2>&1
    echo "the instrument received:"
    cat "$TAVRIN_PEER_DIR/log"
    exit 0
  fi
  wine "$build/bin/tavrin.exe" </dev/null >/dev/null 2>&1 &
  program=$!
  wine "$build/bin/wintool.exe" wait "$title" 30000
  wine "$build/bin/wintool.exe" click "$title" "Erase Test"
  # Until the window says the erase is done (the third reply has come in), at most 10 s.
  for _ in $(seq 1 100); do
    wine "$build/bin/wintool.exe" text "$title" | grep -q "erased" && break
    sleep 0.1
  done
  echo "the instrument on COM$TAVRIN_TEST_COM received:"
  cat "$TAVRIN_PEER_DIR/log"
  import -window root "$build/demo/tavrin.png"
  wine "$build/bin/wintool.exe" close "$title"
  wait "$program"
  echo "screenshot: $build/demo/tavrin.png"
' demo "$build"
