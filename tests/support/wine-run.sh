#!/bin/sh
# Runs a Windows program under Wine, quietly, in the prefix the test run set
# up (WINEPREFIX; see wine-prefix.sh).
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# A program started while the previous test's server is shutting down can
# fail before it prints anything: let that server go first.
wineserver -w
wine "$@"
status=$?
[ $status -eq 0 ] || echo "wine-run: $1 ended with status $status" >&2
exit $status
