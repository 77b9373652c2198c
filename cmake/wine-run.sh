#!/bin/sh
# Runs a Windows test program under Wine with a private prefix (the presets
# put it inside the build tree), so runs never touch the user's own prefix.
: "${WINEPREFIX:=$PWD/.wine}"
export WINEPREFIX
export WINEDEBUG=-all
if [ -x /usr/lib/wine/wine64 ]; then exec /usr/lib/wine/wine64 "$@"; fi
exec wine "$@"
