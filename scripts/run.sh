#!/usr/bin/env bash
# Sets up, builds the host programs and opens the settings program on the
# emulated device.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh >&2
cmake --preset host >/dev/null
cmake --build --preset host >/dev/null
exec build/host/settings/Velloria
