#!/usr/bin/env bash
# Size and imports of the win32 or the handheld's (wince) programs, against
# their budgets.
#   bench/size-report.sh [build folder]    (default: build/win32)
# Prints each .exe's size, its sections and the DLLs it imports; exits 1 when
# a program is over its budget or imports anything but the system's own DLLs.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/win32}
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}

# name, path in the build folder, budget in KiB
programs=(
  "Tarquell launcher/Tarquell.exe 24"
  "Velloria settings/Velloria.exe 64"
)
# DLLs every Windows has; a C++ or GCC runtime DLL (libstdc++-6, libgcc_s_seh-1,
# libwinpthread-1) would have to ship beside the program.
system_dlls="KERNEL32 USER32 ADVAPI32 GDI32 COMCTL32 SHELL32 MSVCRT UCRTBASE NTDLL"

# The handheld's build: its own budgets, and COREDLL is its one system DLL.
if grep -q '^ZK_CE_BINUTILS:' "$build/CMakeCache.txt" 2>/dev/null; then
  objdump=${OBJDUMP:-$(sed -n 's/^ZK_CE_BINUTILS:PATH=//p' "$build/CMakeCache.txt")/bin/arm-mingw32ce-objdump}
  programs=(
    "Tarquell launcher/Tarquell.exe 8"
    "Velloria settings/Velloria.exe 16"
  )
  system_dlls="COREDLL"
fi

failed=0
for line in "${programs[@]}"; do
  read -r name rel budget <<<"$line"
  exe="$build/$rel"
  if [ ! -f "$exe" ]; then
    echo "$name: $exe is missing (build the win32 preset first)" >&2
    failed=1
    continue
  fi
  bytes=$(stat -c %s "$exe")
  kib=$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1024 }')
  verdict="within"
  [ "$bytes" -le $((budget * 1024)) ] || { verdict="OVER"; failed=1; }
  printf '%s.exe: %d bytes = %s KiB (budget %d KiB: %s)\n' "$name" "$bytes" "$kib" "$budget" "$verdict"

  # Sections with their raw sizes; .text code, .rdata constants, .rsrc the
  # resources, .pdata/.xdata unwind tables, .idata the import tables.
  printf '  sections:'
  while read -r section size; do
    printf ' %s %d' "$section" $((16#$size))
  done < <("$objdump" -h "$exe" | awk '$1 ~ /^[0-9]+$/ { print $2, $3 }')
  printf '\n'

  imports=$("$objdump" -p "$exe" | awk '/DLL Name:/ { print $3 }')
  printf '  imports: %s\n' "$(echo $imports)"
  for dll in $imports; do
    base=$(echo "${dll%.*}" | tr '[:lower:]' '[:upper:]')
    case " $system_dlls " in
      *" $base "*) ;;
      *) echo "  not a system DLL: $dll"; failed=1 ;;
    esac
  done
done
exit $failed
