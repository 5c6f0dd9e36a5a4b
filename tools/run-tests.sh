#!/bin/sh
# Builds and runs the whole test suite: the plain build, the same suite under AddressSanitizer
# and UndefinedBehaviorSanitizer, and a bounded fuzzing run of the height-map and BMP readers.
set -e
cd "$(dirname "$0")/.."
JOBS=$(nproc)
export LSAN_OPTIONS="suppressions=$(pwd)/tests/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$JOBS"
ctest --test-dir build --output-on-failure -j "$JOBS"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKELTA_SANITIZE=ON
cmake --build build-asan -j "$JOBS"
KELTA_VARIANT=asan ctest --test-dir build-asan --output-on-failure -j "$JOBS"

tests/fuzz/run_fuzz.sh build-fuzz
