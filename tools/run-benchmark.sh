#!/bin/sh
# Builds kelta-bench and times KELTA's frame on the 512 map and the 4096 map (as one mesh and with
# level of detail) at 800 x 600 and 1920 x 1080 under a private Xvfb server: the table goes to
# the terminal and docs/benchmark.txt, the JSON to docs/benchmark.json. Further arguments go to kelta-bench; the frame counts suit
# Mesa's software rasteriser on two cores (about seven minutes), a real GPU can take more,
# for instance --frames 1000. BUILD_DIR names another build folder than build.
set -e
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target kelta-bench >/dev/null
xvfb-run -a -s "-screen 0 1920x1080x24" \
    "$build/kelta-bench" --frames 60 --warmup 10 --json docs/benchmark.json "$@" >docs/benchmark.txt
cat docs/benchmark.txt
