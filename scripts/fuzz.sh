#!/usr/bin/env bash
# Fuzzes the host registry's .reg reader with libFuzzer for a bounded time.
#   scripts/fuzz.sh [seconds]        (60 by default)
# The seed corpus is tests/fuzz/corpus/regfile; what the run finds on top of it
# stays in build/fuzz/corpus, and an input that fails is left in build/fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
out=build/fuzz
mkdir -p "$out/corpus"

cxx=$(command -v clang++-14 || command -v clang++)
"$cxx" -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -I platform/host -I platform/host/registry tests/fuzz/regfile_fuzz.cpp platform/host/registry/regfile.cpp \
  platform/host/text.cpp -o "$out/regfile_fuzz"

"$out/regfile_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -malloc_limit_mb=128 \
  -max_len=16384 \
  -dict=tests/fuzz/regfile.dict -artifact_prefix="$out/" -print_final_stats=1 \
  "$out/corpus" tests/fuzz/corpus/regfile 2>"$out/log" || { tail -n 60 "$out/log" >&2; exit 1; }
grep -E '^Done [0-9]+ runs' "$out/log"
