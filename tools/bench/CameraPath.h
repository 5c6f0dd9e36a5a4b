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

// kelta's camera speed with Left Shift held (math/Camera.cpp: 15 units a second, five times over).
constexpr float FLIGHT_UNITS_PER_SECOND = 15.0f * 5.0f;

// The pose `seconds` into the path that begins at the given pose; at 0 it is that pose exactly.
CameraPose cameraPathPose(const CameraPose& start, double seconds);
// The flight's pose: the start pose with the eye carried forward along its level heading by
// `distance`, looking the same way, so that only the ground passing by changes the frame.
CameraPose flightPose(const CameraPose& start, float distance);
