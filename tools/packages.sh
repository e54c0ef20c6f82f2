#!/usr/bin/env bash
# Installs what the build and the tests need. Does nothing when all of it is there.
set -euo pipefail

packages=(
  g++-mingw-w64-i686-posix mingw-w64-i686-dev mingw-w64-tools
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  wine wine32:i386 wine64
  xvfb xauth x11-apps x11-xserver-utils imagemagick
  cmake ninja-build googletest gcc-multilib python3 msitools openssl curl mscompress
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "installing: ${missing[*]}"
dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
