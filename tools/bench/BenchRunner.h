// One map's benchmark in the current process: the program's start-up, then the camera path
// at every size in one window.
#pragma once

#include <string>

#include "tools/bench/BenchOptions.h"

// Starts the program up on the map (with level of detail where the map asks for it) and times its frames at each of the options' sizes (which
// must not be empty). Returns {"device": ..., "map": ...} as JSON text. Call once per process:
// the program's objects are never destroyed. Ends the process with one line on a start-up
// failure, as the program does.
std::string runMapBenchmark(const BenchOptions& options, const BenchMap& map);
