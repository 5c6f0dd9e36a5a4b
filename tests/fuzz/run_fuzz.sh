#!/usr/bin/env bash
# Builds the BMP reader's fuzzer with clang in the given build folder, seeds it and runs it for a
# bounded time. Fails on any crash, leak or sanitizer report, and keeps the offending input in
# tests/data/bmp-regressions so the unit tests replay it from then on.
# Usage: tests/fuzz/run_fuzz.sh BUILD_DIR [SECONDS]
set -euo pipefail

if [[ $# -lt 1 ]]; then
    echo "usage: $0 BUILD_DIR [SECONDS]" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(mkdir -p "$1" && cd "$1" && pwd)
seconds=${2:-60}

generator=()
if command -v ninja >/dev/null; then
    generator=(-G Ninja)
fi
cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DKELTA_FUZZ=ON
cmake --build "$build" --target fuzz_bitmap bmp_seed_corpus -j "$(nproc)"

work=$build/fuzz-bitmap
seeds=$work/seeds
corpus=$work/corpus
artifacts=$work/artifacts
rm -rf "$seeds" "$artifacts"
mkdir -p "$seeds" "$corpus" "$artifacts"
"$build/tests/fuzz/bmp_seed_corpus" "$seeds"

log=$work/fuzz.log
set +e
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/tests/fuzz/fuzz_bitmap" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$corpus" "$seeds" >"$log" 2>&1
status=$?
set -e

executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
echo "fuzz_bitmap: ${executions:-no} executions in ${seconds} s (exit status $status)"

reports=$(grep -cE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:' "$log" || true)
shopt -s nullglob
found=("$artifacts"/*)
if [[ $status -ne 0 || $reports -ne 0 || ${#found[@]} -ne 0 ]]; then
    tail -n 60 "$log"
    mkdir -p "$root/tests/data/bmp-regressions"
    for input in "${found[@]}"; do
        kept=$root/tests/data/bmp-regressions/fuzz-$(basename "$input").bmp
        cp "$input" "$kept"
        echo "kept failing input as $kept"
    done
    echo "fuzz_bitmap failed; full log in $log" >&2
    exit 1
fi
