#!/usr/bin/env bash
# Runs a command inside the test environment and stops everything it started afterwards:
#   tools/session.sh BUILD_DIR COMMAND [ARG...]
# The environment: a private Wine prefix under BUILD_DIR (made once, then reused), Xvfb on a
# free display, Wine's virtual desktop, a persistent wineserver warmed up, the pty modem-line
# library preloaded, and the machine's real serial devices hidden behind /dev/null
# (/dev/ttyS0 is the kernel console here; Wine would map it to COM1). With
# TAVRIN_USER_DISPLAY=1 and a DISPLAY that answers, Wine's desktop shows there instead of
# on Xvfb (the demo); the command then sees TAVRIN_USER_DISPLAY=1, else it is empty.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
[ $# -ge 2 ] || { echo "usage: $0 BUILD_DIR COMMAND [ARG...]" >&2; exit 2; }
build=$(mkdir -p "$1" && cd "$1" && pwd)
shift

# A private mount namespace, so the serial devices can be covered for us alone.
if [ -z "${TAVRIN_SANDBOX_INNER:-}" ]; then
  flags=(-m --propagation private)
  [ "$(id -u)" -eq 0 ] || flags=(-r "${flags[@]}")
  exec env TAVRIN_SANDBOX_INNER=1 unshare "${flags[@]}" bash "$0" "$build" "$@"
fi
unset TAVRIN_SANDBOX_INNER

for dev in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM* /dev/ttyAMA* /dev/rfcomm*; do
  [ -e "$dev" ] || continue
  mount --bind /dev/null "$dev"
done
if [ -c /dev/ttyS0 ] && [ "$(stat -c %t:%T /dev/ttyS0)" != "$(stat -c %t:%T /dev/null)" ]; then
  echo "session: could not hide /dev/ttyS0; refusing to run Wine" >&2
  exit 1
fi

for v in http_proxy https_proxy all_proxy no_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY NO_PROXY; do
  unset "$v"
done
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export PTYMODEM_DIR="$build/ptymodem/lines"
export TAVRIN_TESTENV=1

pids=()
stop() {
  local rc=$?
  trap - EXIT INT TERM
  # Our own server and the Wine processes it serves; then what we started, by pid.
  [ -d "$WINEPREFIX" ] && wineserver -k >/dev/null 2>&1 || true
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  exit "$rc"
}
trap stop EXIT INT TERM

# The modem-line library, for both word sizes so that no process's loader complains.
lib32="$build/ptymodem/lib/i386-linux-gnu/libptymodem.so"
lib64="$build/ptymodem/lib/x86_64-linux-gnu/libptymodem.so"
src="$here/ptymodem/ptymodem.c"
mkdir -p "$(dirname "$lib32")" "$(dirname "$lib64")" "$PTYMODEM_DIR"
[ "$lib32" -nt "$src" ] || gcc -m32 -O2 -Wall -shared -fPIC -o "$lib32" "$src" -ldl -lpthread
[ "$lib64" -nt "$src" ] || gcc -O2 -Wall -shared -fPIC -o "$lib64" "$src" -ldl -lpthread
export LD_PRELOAD="$build/ptymodem/\$LIB/libptymodem.so${LD_PRELOAD:+ $LD_PRELOAD}"

# A wineserver left by an earlier session on this prefix would serve clients outside our
# namespace; end it before starting ours.
[ -d "$WINEPREFIX" ] && { wineserver -k >/dev/null 2>&1 || true; wineserver -w >/dev/null 2>&1 || true; }

# TAVRIN_USER_DISPLAY=1 with a DISPLAY that answers: the programs show there instead.
if [ -n "${TAVRIN_USER_DISPLAY:-}" ] && [ -n "${DISPLAY:-}" ] && xset q >/dev/null 2>&1; then
  user_display=1
else
  user_display=
fi

exec 3>&-
if [ -z "$user_display" ]; then
  display_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$display_file" </dev/null >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 1 100); do
    [ -s "$display_file" ] && break
    kill -0 "${pids[0]}" 2>/dev/null || { echo "session: Xvfb did not start" >&2; exit 1; }
    sleep 0.1
  done
  [ -s "$display_file" ] || { echo "session: Xvfb gave no display" >&2; exit 1; }
  export DISPLAY=":$(head -n1 "$display_file")"
  rm -f "$display_file"
fi
export TAVRIN_USER_DISPLAY=$user_display

if [ ! -f "$WINEPREFIX/.tavrin-ready" ]; then
  echo "session: making the Wine prefix (once)" >&2
  rm -rf "$WINEPREFIX"
  wineboot -i </dev/null >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f </dev/null >/dev/null 2>&1
  wineserver -w
  # No COM port of the prefix may lead to a device of the machine.
  find "$WINEPREFIX/dosdevices" -maxdepth 1 -name 'com*' -type l -delete
  touch "$WINEPREFIX/.tavrin-ready"
fi
wineserver -f -p </dev/null >/dev/null 2>&1 &
pids+=($!)
socket="/tmp/.wine-$(id -u)/server-$(printf %x "$(stat -c %d "$WINEPREFIX")")-$(printf %x "$(stat -c %i "$WINEPREFIX")")/socket"
for _ in $(seq 1 100); do
  [ -S "$socket" ] && break
  sleep 0.05
done
wine explorer /desktop=Default,1280x1024 </dev/null >/dev/null 2>&1 &
pids+=($!)
wine cmd /c exit </dev/null >/dev/null 2>&1
# Wine links the machine's serial devices as COM ports when its device manager starts;
# they are /dev/null here, but tests want no COM port they did not make.
find "$WINEPREFIX/dosdevices" -maxdepth 1 -name 'com*' -type l -lname '/dev/tty*' -delete

"$@"
