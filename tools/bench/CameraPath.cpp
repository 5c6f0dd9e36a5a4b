// The benchmark's camera path: climb along the vertical, swing about it.
#include "tools/bench/CameraPath.h"

#include <cmath>

CameraPose cameraPathPose(const CameraPose& start, double seconds) {
    const double swing = PATH_SWING_RADIANS * std::sin(2.0 * 3.14159265358979323846 * seconds / PATH_SWING_PERIOD_SECONDS);
    const float c = static_cast<float>(std::cos(swing));
    const float s = static_cast<float>(std::sin(swing));
    const vec3& d = start.direction;
    CameraPose pose;
    pose.position = start.position + vec3{0.0f, PATH_CLIMB_PER_SECOND * static_cast<float>(seconds), 0.0f};
    pose.direction = vec3{c * d.x + s * d.z, d.y, c * d.z - s * d.x};
    return pose;
}

CameraPose flightPose(const CameraPose& start, float distance) {
    CameraPose pose = start;
    const vec3& d = start.direction;
    const float level = std::sqrt(d.x * d.x + d.z * d.z);
    if (level > 0.0f) pose.position = pose.position + vec3{d.x / level * distance, 0.0f, d.z / level * distance};
    return pose;
}
