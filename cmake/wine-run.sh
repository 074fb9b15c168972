#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine, in the build's own
# prefix (made and removed by the tests' wine fixture, never the user's
# ~/.wine), with Wine's own messages silenced. Its status is the program's.
set -euo pipefail
: "${TALMIR880_WINEPREFIX:?the wine fixture sets TALMIR880_WINEPREFIX}"
export WINEPREFIX="$TALMIR880_WINEPREFIX" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
exec /usr/lib/wine/wine64 "$@"
