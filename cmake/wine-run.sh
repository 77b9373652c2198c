#!/bin/sh
# Runs a Windows test program under Wine with a private prefix (the presets
# put it inside the build tree), so runs never touch the user's own prefix.
# The first argument is win32 or win64, from the toolchain file: Debian
# ships the two loaders apart, and a 32-bit program needs the 32-bit one.
: "${WINEPREFIX:=$PWD/.wine}"
export WINEPREFIX
export WINEDEBUG=-all
case "$1" in
  win32) loader=/usr/lib/wine/wine ;;
  win64) loader=/usr/lib/wine/wine64 ;;
  *) echo "wine-run.sh: first argument must be win32 or win64" >&2; exit 2 ;;
esac
shift
if [ -x "$loader" ]; then exec "$loader" "$@"; fi
if [ -x /usr/lib/wine/wine64 ]; then
  # A Debian layout without the 32-bit loader would fail later with an obscure error.
  echo "wine-run.sh: $loader is missing (Debian: dpkg --add-architecture i386, then install wine32)" >&2
  exit 127
fi
exec wine "$@"
