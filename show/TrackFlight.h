// The flight along a track, as keyframes of a camera path: at a height above the ground that never
// falls below the one asked for where the ground is read along the track, smoothed so that the eye
// glides over the land instead of following each bump, looking along the track a few hundred
// metres ahead and slightly down, at one speed over the ground. Free of GL and of the terrain: the
// ground is reached through FlightGround, which the terrain fills in and the tests fake.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "math/Math.h"
#include "show/CameraPath.h"
#include "show/FollowOptions.h"

struct FlightGround {
    // The world height of the surface at world (x, z); none over a hole or off the map.
    std::function<std::optional<float>(float x, float z)> heightAt;
    // Ground metres in a world unit across, and metres of elevation in a world unit of height.
    double metresPerWorldUnit = 1.0;
    double metresPerHeight = 1.0;
    // World units between neighbouring samples of the map: the ground is read at least twice as
    // often along the track, so that no rise of it is stepped over.
    float sampleSpacing = 1.0f;
};

// The flight's keyframes along the world points of `track` (their heights are not looked at),
// timed from 0 by the distance along the track over the ground and the options' speed. Where the
// ground has no height (a hole, off the map) the nearest known height along the track stands in.
// Empty when the track has no length.
std::vector<PathKeyframe> followingKeyframes(const std::vector<vec3>& track, const FlightGround& ground,
                                             const FollowOptions& options);
