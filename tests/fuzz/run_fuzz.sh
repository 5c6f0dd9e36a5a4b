#!/usr/bin/env bash
# Builds the fuzzers with clang in the given build folder, seeds them and runs them for a bounded
# time, split evenly between the BMP reader, the height-map reader (BMP, PNG, raw) and the
# elevation-map conversion and drape (in-memory GDAL rasters). Fails on any crash, leak or
# sanitizer report, and keeps the offending input in tests/data so the unit tests replay it from
# then on.
# Usage: tests/fuzz/run_fuzz.sh BUILD_DIR [SECONDS]
set -euo pipefail

if [[ $# -lt 1 ]]; then
    echo "usage: $0 BUILD_DIR [SECONDS]" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(mkdir -p "$1" && cd "$1" && pwd)
seconds=${2:-90}

generator=()
if command -v ninja >/dev/null; then
    generator=(-G Ninja)
fi
cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DKELTA_FUZZ=ON
cmake --build "$build" --target fuzz_bitmap bmp_seed_corpus fuzz_heightmap heightmap_seed_corpus fuzz_elevation \
    elevation_seed_corpus -j "$(nproc)"

# fuzz FUZZER SEED_TOOL REGRESSION_FOLDER EXTENSION SECONDS: one bounded run; a failing input is
# kept under the extension that sends it to the same reader again.
fuzz() {
    local fuzzer=$1 seed_tool=$2 regressions=$root/tests/data/$3 extension=$4 time=$5
    local work=$build/${fuzzer//_/-}
    local seeds=$work/seeds corpus=$work/corpus artifacts=$work/artifacts log=$work/fuzz.log
    rm -rf "$seeds" "$artifacts"
    mkdir -p "$seeds" "$corpus" "$artifacts"
    "$build/tests/fuzz/$seed_tool" "$seeds"

    local status
    set +e
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$build/tests/fuzz/$fuzzer" -max_total_time="$time" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$corpus" "$seeds" >"$log" 2>&1
    status=$?
    set -e

    local executions reports
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    echo "$fuzzer: ${executions:-no} executions in ${time} s (exit status $status)"

    reports=$(grep -cE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:' "$log" || true)
    shopt -s nullglob
    local found=("$artifacts"/*)
    if [[ $status -ne 0 || $reports -ne 0 || ${#found[@]} -ne 0 ]]; then
        tail -n 60 "$log"
        mkdir -p "$regressions"
        local input kept
        for input in "${found[@]}"; do
            kept=$regressions/fuzz-$(basename "$input")$extension
            cp "$input" "$kept"
            echo "kept failing input as $kept"
        done
        echo "$fuzzer failed; full log in $log" >&2
        return 1
    fi
}

failed=0
share=$((seconds / 3))
fuzz fuzz_bitmap bmp_seed_corpus bmp-regressions .bmp "$share" || failed=1
fuzz fuzz_heightmap heightmap_seed_corpus heightmap-regressions .r16 "$share" || failed=1
fuzz fuzz_elevation elevation_seed_corpus elevation-regressions .raster "$((seconds - 2 * share))" || failed=1
exit "$failed"
