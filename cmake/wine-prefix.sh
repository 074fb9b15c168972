#!/usr/bin/env bash
# up FOLDER: a fresh Wine prefix there, for the cross build's tests alone.
# down FOLDER: its server stopped and the prefix removed.
set -euo pipefail
mode=$1 prefix=$2
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
case "$mode" in
  up)
    rm -rf "$prefix"
    mkdir -p "$prefix"
    # Wine says much while it makes a prefix, none of it about our programs.
    if ! /usr/lib/wine/wine64 wineboot --init >"$prefix.log" 2>&1; then
      cat "$prefix.log" >&2
      exit 1
    fi
    /usr/lib/wine/wineserver -w
    rm -f "$prefix.log"
    ;;
  down)
    [ -d "$prefix" ] && /usr/lib/wine/wineserver -k 2>/dev/null || true
    rm -rf "$prefix" "$prefix.log"
    ;;
  *) echo "usage: $0 up|down FOLDER" >&2; exit 2 ;;
esac
