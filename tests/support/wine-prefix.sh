#!/bin/sh
# wine-prefix.sh setup|cleanup <dir>: a fresh Wine prefix for one test run.
set -eu
export WINEPREFIX="$2"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
case "$1" in
setup)
    rm -rf "$WINEPREFIX"
    wineboot --init >/dev/null 2>&1 || true
    wineserver -w
    test -f "$WINEPREFIX/system.reg" || { echo "wine-prefix: no prefix made in $WINEPREFIX" >&2; exit 1; }
    ;;
cleanup)
    wineserver -k 2>/dev/null || true
    ;;
esac
