#!/usr/bin/env bash
# Sets up, builds the host programs and opens the device session on the
# emulated device: the settings program, restarts, the desktop. Arguments go
# to the session (--help); with --arm the handheld's own programs (the wince
# build) are built too and run on the emulated StrongARM.
set -euo pipefail
cd "$(dirname "$0")/.."

targets=(device-session Velloria Tarquell ctlpnl)
arm=false
for arg in "$@"; do
  [ "$arg" = --arm ] && arm=true
done

scripts/setup.sh >&2
echo "run: building the host programs (the first build takes a minute)..." >&2
cmake --preset host >/dev/null
if $arm; then
  echo "run: building the handheld's programs (the first build of the CE tools takes a few minutes)..." >&2
  cmake --preset wince >/dev/null
  cmake --build --preset wince >/dev/null
  targets+=(armemu_run)
fi
cmake --build --preset host --target "${targets[@]}" >/dev/null
exec build/host/tools/device-session/device-session "$@"
