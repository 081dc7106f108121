#!/usr/bin/env bash
# Sets up, builds the host programs and opens the device session on the
# emulated device: the settings program, restarts, the desktop. Arguments go
# to the session (--help).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh >&2
echo "run: building the host programs (the first build takes a minute)..." >&2
cmake --preset host >/dev/null
cmake --build --preset host --target device-session Velloria Tarquell ctlpnl >/dev/null
exec build/host/tools/device-session/device-session "$@"
