// The fixed camera path kelta-bench flies: from the program's start pose, a slow climb while
// the view swings from side to side, the same on every run.
#pragma once

#include "math/Math.h"

struct CameraPose {
    vec3 position;
    vec3 direction;
};

constexpr double BENCH_FRAME_SECONDS = 1.0 / 60.0;
constexpr float PATH_CLIMB_PER_SECOND = 0.5f;
constexpr double PATH_SWING_RADIANS = 3.14159265358979323846 / 8.0;
constexpr double PATH_SWING_PERIOD_SECONDS = 10.0;

// The pose `seconds` into the path that begins at the given pose; at 0 it is that pose exactly.
CameraPose cameraPathPose(const CameraPose& start, double seconds);
