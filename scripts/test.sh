#!/usr/bin/env bash
# Sets up, builds both targets and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

cmake --preset host
cmake --build --preset host
ctest --preset host

# The handheld build: the CE binutils are built once (scripts/ce-binutils.sh,
# cached outside the build folder), the ARM programs run on the emulated
# StrongARM that the host build holds.
cmake --preset wince
cmake --build --preset wince
ctest --preset wince

# The host tests again, and the ARM tests with the emulator, under
# AddressSanitizer and UndefinedBehaviorSanitizer.
cmake --preset asan
cmake --build --preset asan
ctest --preset asan

# The .reg reader under libFuzzer, for a minute.
scripts/fuzz.sh 60

cmake --preset win32
cmake --build --preset win32
# Some win32 tests open real windows: give Wine a display.
xvfb-run -a -s "-screen 0 1024x768x24" ctest --preset win32
