#!/usr/bin/env bash
# The main job: build everything, then show both programs at work.
#   tools/demo.sh [tavrin|setup|all]     (default all)
# tavrin: start the simulated VR7 on a pty linked as COM1 and run tavrin with that port
# chosen. With a display of your own (DISPLAY set and answering) the window shows there until
# you close it. Without one it runs under Xvfb: the demo clicks "Erase Test" on the toolbar,
# prints what the instrument received, saves the screen as build/demo/tavrin.png and closes
# the window.
# Closing the window stops the instrument.
# setup: lay out a small sample package (setup.ini, a language file, a splash picture, the
# sample engine) in build/demo/setup and run setup.exe on it: once to a started installation,
# whose engine answers 1234, and once with an engine that fails to open its cabinet, which
# shows the error dialog. Both full exit codes are printed. Under Xvfb the splash and the
# error dialog are saved as build/demo/setup-splash.png and build/demo/setup-error.png and the
# dialog is closed; on your display close the dialog yourself.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
what=${1:-all}
case "$what" in
  tavrin | setup | all) ;;
  *) echo "usage: $0 [tavrin|setup|all]" >&2; exit 2 ;;
esac
bash "$root/tools/build.sh" "$build"
mkdir -p "$build/demo"
export TAVRIN_USER_DISPLAY=1

demo_tavrin() {
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
  # Erase Test is a toolbar item, without a window of its own: the mouse goes along the
  # toolbar until the window shows the item'\''s guidance, and clicks there.
  wine "$build/bin/wintool.exe" hoverclick "$title" 15 "To erase a test"
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
}

demo_setup() {
  local media="$build/demo/setup/media" failing="$build/demo/setup/failing"
  rm -rf "$build/demo/setup"
  python3 "$root/tools/setup_package.py" --out "$media" --bin "$build/bin" --product "Corvane Sample" \
    --splash 400x240 --splash-time 3 --result 1234 >/dev/null
  python3 "$root/tools/setup_package.py" --out "$failing" --bin "$build/bin" --product "Corvane Sample" \
    --product-code "{6F1D2A3B-4C5D-4E6F-8A9B-0C1D2E3F4A5C}" --fail OpenCabinet >/dev/null
  cp "$build/bin/setup.exe" "$media/"
  cp "$build/bin/setup.exe" "$failing/"
  bash "$root/tools/session.sh" "$build" bash ${TAVRIN_DEMO_TRACE:+-x} -c '
  set -euo pipefail
  build=$1 media=$2 failing=$3
  windows() { echo "Z:${1//\//\\}"; }
  caption="Corvane Sample - Corvane Wizard"
  if [ -n "$TAVRIN_USER_DISPLAY" ]; then
    echo "setup.exe on the sample package (a splash for 3 s, then the engine starts):"
    wine "$build/bin/runner.exe" --print "$(windows "$media/setup.exe")" </dev/null 2>/dev/null || true
    echo "setup.exe with an engine that cannot open its cabinet (close the error dialog):"
    wine "$build/bin/runner.exe" --print "$(windows "$failing/setup.exe")" -hide_progress </dev/null 2>/dev/null || true
  else
    echo "setup.exe on the sample package:"
    wine "$build/bin/runner.exe" --print "$(windows "$media/setup.exe")" </dev/null &
    run=$!
    # The progress dialog comes up beside the splash, which stays its 3 seconds.
    wine "$build/bin/wintool.exe" wait "$caption" 30000
    import -window root "$build/demo/setup-splash.png"
    wait "$run" || true  # runner.exe printed the whole code; Linux keeps its low byte
    echo "the engine was called:"
    sed "s/^/  /" "$media/RURavur.calls"
    echo "setup.exe with an engine that cannot open its cabinet:"
    wine "$build/bin/runner.exe" --print "$(windows "$failing/setup.exe")" -hide_progress </dev/null 2>/dev/null &
    run=$!
    wine "$build/bin/wintool.exe" wait "$caption" 30000
    import -window root "$build/demo/setup-error.png"
    wine "$build/bin/wintool.exe" close "$caption"
    wait "$run" || true  # runner.exe printed the whole code; Linux keeps its low byte
    echo "screenshots: $build/demo/setup-splash.png $build/demo/setup-error.png"
  fi
  ' demo "$build" "$media" "$failing"
}

case "$what" in
  tavrin) demo_tavrin ;;
  setup) demo_setup ;;
  all) demo_tavrin; demo_setup ;;
esac
