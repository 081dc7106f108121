#!/usr/bin/env bash
# Builds and measures: the win32 programs' sizes and imports against their
# budgets, then the host registry's speed (Google Benchmark) and the host
# programs' start-to-exit time. Not part of the tests. Extra arguments go to
# the benchmark, e.g. --benchmark_filter=Press or --benchmark_repetitions=3.
# ZK_WIN32_BUILD and ZK_BENCH_BUILD name other build folders.
set -euo pipefail
cd "$(dirname "$0")/.."

win32=${ZK_WIN32_BUILD:-build/win32}
bench=${ZK_BENCH_BUILD:-build/bench}

scripts/setup.sh >&2

echo "== Size (the win32 preset's build: mingw-w64, MinSizeRel)"
toolchain=()
[ -f "$win32/CMakeCache.txt" ] || toolchain=(--toolchain cmake/mingw-w64-x86_64.cmake)
cmake -S . -B "$win32" "${toolchain[@]}" -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build "$win32" -j2 --target Tarquell Velloria >/dev/null
size_ok=0
bench/size-report.sh "$win32" || size_ok=$?

echo
echo "== Size (the wince preset's build: the handheld's CE 3.0 ARM programs)"
cmake --preset wince >/dev/null
cmake --build --preset wince >/dev/null
bench/size-report.sh build/wince || size_ok=$?

echo
echo "== Speed (host, RelWithDebInfo as the host preset)"
cmake -S . -B "$bench" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZK_BENCHMARKS=ON >/dev/null
cmake --build "$bench" -j2 --target zk_bench >/dev/null
"$bench/bench/zk_bench" --benchmark_out="$bench/bench.json" --benchmark_out_format=json "$@"
echo
bench/bench-summary.py "$bench/bench.json"

exit $size_ok
