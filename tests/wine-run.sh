#!/bin/sh
# Runs a Windows program under Wine, quietly, in the prefix the test run set
# up (WINEPREFIX; see wine-prefix.sh).
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
exec wine "$@"
