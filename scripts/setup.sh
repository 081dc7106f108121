#!/usr/bin/env bash
# Installs what building, running and testing need, from Debian's packages.
# Does nothing when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake git python3
  libgtest-dev googletest libbenchmark-dev libncurses-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine64 xvfb xauth xdotool tmux
  gcc-arm-none-eabi binutils-source flex bison m4 libunicorn-dev
  gcab cabextract
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
