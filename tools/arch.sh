#!/usr/bin/env bash
# Prints the Windows architecture the tree is built and tested for: i686, the programs'
# own, wherever the machine runs 32-bit code; x86_64 where it runs none (some virtual
# machines refuse every i386 program), so that the tests still run, as 64-bit programs
# under 64-bit Wine. TAVRIN_ARCH overrides the choice.
set -u
if [ -n "${TAVRIN_ARCH:-}" ]; then
  echo "$TAVRIN_ARCH"
  exit 0
fi
# Wine's i386 loader: a kernel without 32-bit support refuses it with "exec format error".
/usr/lib/wine/wine --version >/dev/null 2>&1
[ $? -eq 126 ] && echo x86_64 || echo i686
