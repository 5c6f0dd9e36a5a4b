// A camera path: keyframes of time, eye point, view direction and optional settings, flown
// through along a smooth curve. The eye moves through every keyframe's position at its time, on a
// curve whose tangents are those of the centripetal Catmull-Rom spline through the keyframes
// (alpha 0.5), paced by the keyframes' times and held in check so that between two keyframes each
// coordinate of the eye stays between theirs: no loops, no overshoot, never below the lower of two
// keyframes, and a straight line for two. The eye starts and ends at rest. The view turns by
// quaternion interpolation between keyframes' orientations (a cubic in slerps, the turning rate
// continuous through each keyframe and at rest at the ends), kept off the vertical as the camera
// keeps it (math/Camera.h); the settings (time of day, exaggeration) change linearly between the
// keyframes that name them. A recorded path is a plain sequence of poses, kept as keyframes like
// any other.
//
// Positions are in the map's world units, the frame kelta-shot's --position takes; directions
// need not be unit length in a file, and are normalised when read.
#pragma once

#include <array>
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
    // A direction is made unit length and, within the camera's polar limits, kept off the vertical
    // (one straight up or down turns towards north, -z).
    explicit CameraPath(std::vector<PathKeyframe> keyframes);

    const std::vector<PathKeyframe>& keyframes() const { return frames; }
    // The last keyframe's time.
    double durationSeconds() const;
    // The pose at `seconds`, held at the first keyframe before it and at the last after it.
    PathPose poseAt(double seconds) const;
    // The same curve through the same keyframes, retimed so that the eye moves at one speed over
    // the whole duration (by arc length); the keyframes' settings keep their places on the curve.
    // Where the eye stands still between two keyframes (it turns only), they keep the time between
    // them. A path whose eye never moves comes back as it is.
    CameraPath withConstantSpeed() const;
    // The path from `from` to `to` over `seconds`, easing in and out: a recalled view's flight.
    static CameraPath between(const PathPose& from, const PathPose& to, double seconds);

private:
    // The keyframes as the path's clock meets them.
    std::vector<PathKeyframe> frames;
    // The keyframes the curve is drawn through, on the curve's own clock: `frames` itself, but for
    // a path retimed by withConstantSpeed, which keeps the curve it was made from.
    std::vector<PathKeyframe> curveFrames;
    // For a retimed path, pairs of the path's and the curve's seconds, both increasing, between
    // which the curve's time is read linearly; empty when the two clocks are one.
    std::vector<std::array<double, 2>> retiming;
};

// Reads a camera path file's text (JSON, described in the README):
//   {"keyframes": [{"time": 0, "position": [x, y, z], "direction": [x, y, z]}, ...]}
// each keyframe also with "lookAt": [x, y, z] (a point to look at) in place of "direction", and
// optionally "sunTime" (ISO 8601 with a zone) and "exaggeration" (above 0, at most 1000). False with one line saying
// what is wrong, and where, in `error`.
bool parseCameraPath(const std::string& json, std::optional<CameraPath>& path, std::string& error);
// Reads a camera path file; false with one line naming the file and the reason.
bool readCameraPath(const std::string& fileName, std::optional<CameraPath>& path, std::string& error);
// The path as a file's text, which parseCameraPath reads back to the same keyframes.
std::string cameraPathJson(const CameraPath& path);
