#!/usr/bin/env bash
# Builds the Windows CE ARM assembler, linker, dlltool and windres from Debian's binutils-source,
# once, into a cache outside any build folder keyed by the package's version. Prints the
# folder holding the tools (bin/arm-mingw32ce-*). A second run finds them and costs nothing.
set -euo pipefail

version=$(dpkg-query -W -f='${Version}' binutils-source 2>/dev/null) || {
  echo "ce-binutils: the package binutils-source is not installed (scripts/setup.sh installs it)" >&2
  exit 1
}
cache=${XDG_CACHE_HOME:-$HOME/.cache}/zelkoran
prefix=$cache/ce-binutils-$version
tools=(as ld dlltool windres)

have_all() {
  for t in "${tools[@]}"; do [ -x "$prefix/bin/arm-mingw32ce-$t" ] || return 1; done
}
if have_all; then echo "$prefix"; exit 0; fi

mkdir -p "$cache"
# One build at a time: a second caller waits for the first and then finds the tools.
exec 9>"$cache/ce-binutils.lock"
flock 9
if have_all; then echo "$prefix"; exit 0; fi

tarball=$(ls /usr/src/binutils/binutils-*.tar.* 2>/dev/null | head -n 1)
[ -n "$tarball" ] || { echo "ce-binutils: no tarball in /usr/src/binutils" >&2; exit 1; }
for t in flex bison m4 make gcc; do
  command -v "$t" >/dev/null || { echo "ce-binutils: $t is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done

work=$(mktemp -d "$cache/ce-binutils-build.XXXXXX")
trap 'rm -rf "$work"' EXIT
log=$work/build.log
echo "ce-binutils: building from $tarball into $prefix (a few minutes, once)" >&2
start=$(date +%s)
(
  cd "$work"
  tar -xf "$tarball"
  src=$(ls -d "$work"/binutils-*/ | head -n 1)
  mkdir obj && cd obj
  "$src"/configure --target=arm-mingw32ce --prefix="$prefix.tmp" \
    --disable-nls --disable-werror --disable-gdb --disable-gprof --disable-gold --disable-sim \
    --disable-libdecnumber --disable-readline --disable-libctf --disable-gdbserver
  make -j2 MAKEINFO=true all-ld all-gas all-binutils
  rm -rf "$prefix.tmp"
  make MAKEINFO=true install-ld install-gas install-binutils
) >"$log" 2>&1 || { tail -n 40 "$log" >&2; echo "ce-binutils: build failed" >&2; exit 1; }
rm -rf "$prefix"
mv "$prefix.tmp" "$prefix"
# The install wrote its own prefix into nothing we use at run time; keep only what is needed.
rm -rf "$prefix/share"
have_all || { echo "ce-binutils: the build did not give ${tools[*]}" >&2; exit 1; }
echo "ce-binutils: built in $(( $(date +%s) - start )) s" >&2
echo "$prefix"
