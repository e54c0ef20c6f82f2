#!/usr/bin/env bash
# Runs a command inside the test environment and stops everything it started afterwards:
#   tools/session.sh BUILD_DIR COMMAND [ARG...]
# The environment: a private Wine prefix under BUILD_DIR (made once, then reused), Xvfb on a
# free display, Wine's virtual desktop, a persistent wineserver warmed up, the pty modem-line
# library preloaded, and the machine's real serial devices hidden behind /dev/null
# (/dev/ttyS0 is the kernel console here; Wine would map it to COM1). With
# TAVRIN_USER_DISPLAY=1 and a DISPLAY that answers, Wine's desktop shows there instead of
# on Xvfb (the demo); the command then sees TAVRIN_USER_DISPLAY=1, else it is empty.
# A second prefix, TAVRIN_COMMA_PREFIX, in a German locale and on an Xvfb of its own
# (TAVRIN_COMMA_DISPLAY), serves the runs meant for the decimal comma (tools/test-env): in
# one prefix, a process's locale settings are shared through the registry with every
# process starting beside it.
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
export TAVRIN_COMMA_PREFIX="$build/wineprefix-comma"
prefixes=("$WINEPREFIX" "$TAVRIN_COMMA_PREFIX")
# On a machine that runs no 32-bit code the 64-bit build is tested, under 64-bit Wine.
if [ "$(bash "$here/arch.sh")" = x86_64 ]; then
  echo "session: this machine runs no 32-bit code; the 64-bit build runs under 64-bit Wine" >&2
  mkdir -p "$build/wine64"
  printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$build/wine64/wine"
  chmod +x "$build/wine64/wine"
  ln -sf wine "$build/wine64/wine-stable"  # what wineboot and the other tool scripts call
  export PATH="$build/wine64:$PATH" WINELOADER=/usr/lib/wine/wine64
fi
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export PTYMODEM_DIR="$build/ptymodem/lines"
export TAVRIN_TESTENV=1

pids=()
stop() {
  local rc=$?
  trap - EXIT INT TERM
  # Our own servers and the Wine processes they serve; then what we started, by pid.
  for prefix in "${prefixes[@]}"; do
    [ -d "$prefix" ] && WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
  done
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

# A wineserver left by an earlier session on a prefix would serve clients outside our
# namespace; end it before starting ours.
for prefix in "${prefixes[@]}"; do
  [ -d "$prefix" ] && { WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true; WINEPREFIX=$prefix wineserver -w >/dev/null 2>&1 || true; }
done

# TAVRIN_USER_DISPLAY=1 with a DISPLAY that answers: the programs show there instead.
if [ -n "${TAVRIN_USER_DISPLAY:-}" ] && [ -n "${DISPLAY:-}" ] && xset q >/dev/null 2>&1; then
  user_display=1
else
  user_display=
fi

# Starts an Xvfb of its own and sets `display` to it.
start_xvfb() {
  local display_file
  display_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$display_file" </dev/null >/dev/null 2>&1 &
  local xvfb=$!
  pids+=($xvfb)
  for _ in $(seq 1 100); do
    [ -s "$display_file" ] && break
    kill -0 "$xvfb" 2>/dev/null || { echo "session: Xvfb did not start" >&2; exit 1; }
    sleep 0.1
  done
  [ -s "$display_file" ] || { echo "session: Xvfb gave no display" >&2; exit 1; }
  display=":$(head -n1 "$display_file")"
  rm -f "$display_file"
}

exec 3>&-
if [ -z "$user_display" ]; then
  start_xvfb
  export DISPLAY=$display
fi
# The German prefix's desktop has a screen of its own: the mouse of one desktop's tests
# never moves over the other's.
start_xvfb
export TAVRIN_COMMA_DISPLAY=$display
export TAVRIN_USER_DISPLAY=$user_display

# Makes a prefix once: Wine's virtual desktop, no COM port of the machine. LC_ALL is the
# locale its processes will run in.
make_prefix() {
  local prefix=$1 locale=$2
  [ -f "$prefix/.tavrin-ready" ] && return 0
  rm -rf "$prefix"
  export WINEPREFIX=$prefix LC_ALL=$locale
  wineboot -i </dev/null >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f </dev/null >/dev/null 2>&1
  wineserver -w
  # No COM port of the prefix may lead to a device of the machine.
  find "$prefix/dosdevices" -maxdepth 1 -name 'com*' -type l -delete
  touch "$prefix/.tavrin-ready"
}

# A persistent server with the desktop shown and a first program run: later programs start
# warm and hand no pipes to Wine's services.
start_prefix() {
  local prefix=$1 locale=$2
  export WINEPREFIX=$prefix LC_ALL=$locale
  wineserver -f -p </dev/null >/dev/null 2>&1 &
  pids+=($!)
  local socket="/tmp/.wine-$(id -u)/server-$(printf %x "$(stat -c %d "$prefix")")-$(printf %x "$(stat -c %i "$prefix")")/socket"
  for _ in $(seq 1 100); do
    [ -S "$socket" ] && break
    sleep 0.05
  done
  wine explorer /desktop=Default,1280x1024 </dev/null >/dev/null 2>&1 &
  pids+=($!)
  wine cmd /c exit </dev/null >/dev/null 2>&1
  # Wine's desktop process ends a few seconds after the last window on it, and the next
  # program to show one starts it again, handing it its own standard handles: ctest then
  # waits for that desktop to end. A hidden window held for the whole session keeps one
  # desktop, started here without them.
  if [ -f "$build/bin/wintool.exe" ]; then
    wine "$build/bin/wintool.exe" hold "tavrin session" </dev/null >/dev/null 2>&1 &
    pids+=($!)
  fi
  # Wine links the machine's serial devices as COM ports when its device manager starts;
  # they are /dev/null here, but tests want no COM port they did not make.
  find "$prefix/dosdevices" -maxdepth 1 -name 'com*' -type l -lname '/dev/tty*' -delete
}

default_locale=${LC_ALL:-}
made=()
for prefix in "${prefixes[@]}"; do
  [ -f "$prefix/.tavrin-ready" ] || made+=("$prefix")
done
[ ${#made[@]} -eq 0 ] || echo "session: making the Wine prefixes (once): ${made[*]##*/}" >&2
# The two are made at once; each has a server of its own.
( make_prefix "$WINEPREFIX" "$default_locale" ) &
first=$!
( make_prefix "$TAVRIN_COMMA_PREFIX" de_DE.UTF-8 ) &
second=$!
wait "$first" && wait "$second" || { echo "session: a Wine prefix could not be made" >&2; exit 1; }
DISPLAY=$TAVRIN_COMMA_DISPLAY start_prefix "$TAVRIN_COMMA_PREFIX" de_DE.UTF-8
start_prefix "$build/wineprefix" "$default_locale"
[ -n "$default_locale" ] || unset LC_ALL
"$@"
