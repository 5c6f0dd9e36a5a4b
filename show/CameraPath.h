// A camera path: keyframes of time, eye point, view direction and optional settings, flown
// through along a smooth curve. The eye moves on a centripetal Catmull-Rom spline through every
// keyframe's position (no loops, no overshoot between keyframes); the view turns by quaternion
// interpolation between keyframes' orientations, with continuous turning rate; the settings
// (time of day, exaggeration) change linearly between the keyframes that name them. A recorded
// path is a plain sequence of poses, kept as keyframes like any other.
//
// Positions are in the map's world units, the frame kelta-shot's --position takes; directions
// need not be unit length in a file, and are normalised when read.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "light/SolarPosition.h"
#include "math/Math.h"

// What a keyframe may set besides the pose; unset fields keep what is in force.
struct PathSettings {
    std::optional<ZonedTime> sunTime;
    std::optional<double> exaggeration;
};

struct PathKeyframe {
    double seconds = 0.0;  // from the path's start
    vec3 position;
    vec3 direction;  // unit length
    PathSettings settings;
};

// Where the path stands at one instant.
struct PathPose {
    vec3 position;
    vec3 direction;  // unit length
    PathSettings settings;
};

class CameraPath {
public:
    // `keyframes`: at least one, their times strictly increasing from 0 or later; directions non-zero.
    explicit CameraPath(std::vector<PathKeyframe> keyframes);

    const std::vector<PathKeyframe>& keyframes() const { return frames; }
    // The last keyframe's time.
    double durationSeconds() const;
    // The pose at `seconds`, held at the first keyframe before it and at the last after it.
    PathPose poseAt(double seconds) const;
    // The same curve through the same keyframes, retimed so that the eye moves at one speed over
    // the whole duration (by arc length); the keyframes' settings keep their places on the curve.
    CameraPath withConstantSpeed() const;
    // The path from `from` to `to` over `seconds`, easing in and out: a recalled view's flight.
    static CameraPath between(const PathPose& from, const PathPose& to, double seconds);

private:
    std::vector<PathKeyframe> frames;
};

// Reads a camera path file's text (JSON, described in the README). False with one line saying
// what is wrong, and where, in `error`.
bool parseCameraPath(const std::string& json, std::optional<CameraPath>& path, std::string& error);
// Reads a camera path file; false with one line naming the file and the reason.
bool readCameraPath(const std::string& fileName, std::optional<CameraPath>& path, std::string& error);
// The path as a file's text, which parseCameraPath reads back to the same keyframes.
std::string cameraPathJson(const CameraPath& path);
