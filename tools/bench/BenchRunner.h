// One map's benchmark in the current process: the program's start-up, then the camera path
// at every size in one window.
#pragma once

#include <string>

#include "tools/bench/BenchOptions.h"

// Starts the program up on the map (with level of detail where the map or the options ask for it,
// or where the program falls back to it) and times its frames at each of the options' sizes
// (which must not be empty). Returns {"device": ..., "map": ...} as JSON text. Call once per
// process: the program's objects are never destroyed. On a start-up failure ends the process with
// exit code 1 after the program's line, and what it names, as the last line of standard output.
std::string runMapBenchmark(const BenchOptions& options, const BenchMap& map);
