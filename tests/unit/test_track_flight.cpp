// The flight along a track over faked ground: how high it stays above the ground, how it looks
// ahead, and how it is timed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <vector>

#include "show/TrackFlight.h"

namespace {

// A world unit is 10 m across, and a unit of height 2 m (heights drawn five times exaggerated), so
// that the two scales cannot stand in for each other; samples lie 30 m apart.
constexpr double METRES_PER_UNIT = 10.0;
constexpr double METRES_PER_HEIGHT = 2.0;
constexpr float SAMPLE_SPACING = 3.0f;

using HeightAt = std::function<std::optional<float>(float x, float z)>;

FlightGround groundOf(HeightAt heightAt) {
    return FlightGround{std::move(heightAt), METRES_PER_UNIT, METRES_PER_HEIGHT, SAMPLE_SPACING};
}

// 100 m above the ground.
FollowOptions followAt(double speedKmh) { return FollowOptions{"track.gpx", 100.0, speedKmh}; }

// The eye's height where the path flown through the keyframes passes `x`, on a track that runs
// east from x = 0 at 300 km/h.
double eyeHeightAt(const CameraPath& path, double x) {
    return path.poseAt(x * METRES_PER_UNIT / (300.0 / 3.6)).position.y;
}

bool isUnit(const vec3& v) { return std::fabs(length(v) - 1.0f) < 1e-4f; }

}  // namespace

// Faults caught: the eye under the height asked for where the ground rises (no running maximum
// before the smoothing, or keyframes lower than the smoothed line between them, which the curve
// through them sinks to), metres of height taken as world units across, holes taken for ground at
// 0 or left without a height, the eye climbing over every bump instead of gliding, and the eye
// raised far from any rise.
TEST(TrackFlight, StaysAtLeastTheHeightAskedAboveTheGroundAndGlidesOverBumps) {
    const struct {
        const char* name;
        HeightAt heightAt;
        // The eye's largest swing in height over the middle of the track, in world units; none: not looked at.
        std::optional<double> largestSwing;
    } grounds[] = {
        {"flat", [](float, float) { return 7.0f; }, 0.0},
        {"one sample-wide spike", [](float x, float) { return std::fabs(x - 250.0f) < 1.5f ? 40.0f : 0.0f; }, {}},
        {"hills every 190 m", [](float x, float) { return 10.0f * std::sin(x / 3.0f); }, 1.0},
        {"a ramp", [](float x, float) { return 0.2f * x; }, {}},
        {"holes at the start and between",
         [](float x, float) -> std::optional<float> {
             if (x < 50.0f || (x > 200.0f && x < 260.0f)) return std::nullopt;
             return 5.0f + 0.01f * x;
         },
         {}},
    };
    // 5 km east.
    const std::vector<vec3> track{{0.0f, 0.0f, -20.0f}, {200.0f, 0.0f, -20.0f}, {500.0f, 0.0f, -20.0f}};
    const double clearance = 100.0 / METRES_PER_HEIGHT;
    // Where a rise may still lift the eye: the running maximum's half window (300 m), the mean's
    // after it, and the keyframe that stands as high as its neighbours and the one after it.
    const double reach = 2.0 * 30.0 + 2.0 * 10.0;
    for (const auto& each : grounds) {
        SCOPED_TRACE(each.name);
        const std::vector<PathKeyframe> keyframes = followingKeyframes(track, groundOf(each.heightAt), followAt(300));
        ASSERT_GE(keyframes.size(), 2u);
        const CameraPath path(keyframes);
        // A hole stands at the height of the ground before it (after it, at the start).
        const auto groundAt = [&](double x) {
            std::optional<float> height = each.heightAt(float(x), -20.0f);
            for (double known = x; !height && known > 0.0; known -= 0.25) height = each.heightAt(float(known), -20.0f);
            for (double known = x; !height; known += 0.25) height = each.heightAt(float(known), -20.0f);
            return double(*height);
        };
        double lowestMiddle = 1e9, highestMiddle = -1e9;
        for (double x = 0.0; x <= 500.0; x += 0.25) {
            const double above = eyeHeightAt(path, x) - groundAt(x);
            // Half a metre of the 100 m: the ground's highest point between the places it is read at.
            EXPECT_GE(above, clearance - 0.25) << "at x = " << x;
            double highestNear = -1e9;
            for (double near = std::max(0.0, x - reach); near <= std::min(500.0, x + reach); near += 0.25) {
                highestNear = std::max(highestNear, groundAt(near));
            }
            EXPECT_LE(above, clearance + highestNear - groundAt(x) + 1e-3) << "at x = " << x;
            if (x >= 100.0 && x <= 400.0) {
                lowestMiddle = std::min(lowestMiddle, eyeHeightAt(path, x));
                highestMiddle = std::max(highestMiddle, eyeHeightAt(path, x));
            }
        }
        if (each.largestSwing) {
            EXPECT_LE(highestMiddle - lowestMiddle, *each.largestSwing + 1e-3);
        }
    }
}

// Faults caught: times not by the distance over the ground and the speed in km/h, keyframes too far
// apart for the track's bends, repeated points giving no direction or times that do not increase,
// the eye turning at a bend instead of before it, looking up or level instead of slightly down, and
// a track that doubles back on itself, or has no length, giving no direction.
TEST(TrackFlight, LooksAlongTheTrackAheadAndIsTimedByTheGroundsDistance) {
    const FlightGround flat = groundOf([](float, float) { return 0.0f; });
    const std::vector<vec3> corner{{0.0f, 0.0f, 0.0f}, {200.0f, 0.0f, 0.0f}, {200.0f, 0.0f, 0.0f},
                                   {200.0f, 0.0f, -200.0f}};
    // 4 km at 360 km/h: 40 s, a keyframe every 100 m, which keeps the eye on the bend's corner.
    const std::vector<PathKeyframe> keyframes = followingKeyframes(corner, flat, followAt(360));
    ASSERT_EQ(keyframes.size(), 41u);
    for (size_t k = 0; k < keyframes.size(); ++k) EXPECT_NEAR(keyframes[k].seconds, double(k), 1e-9);
    for (const PathKeyframe& keyframe : keyframes) {
        EXPECT_TRUE(isUnit(keyframe.direction)) << keyframe.seconds << " s";
        EXPECT_LT(keyframe.direction.y, -0.05f) << keyframe.seconds << " s";
        EXPECT_GT(keyframe.direction.y, -0.3f) << keyframe.seconds << " s";
    }
    // Halfway along the first leg, east; 100 m before the corner, already turning north (-z); at
    // the end, north.
    EXPECT_GT(keyframes[10].direction.x, 0.95f);
    EXPECT_LT(keyframes[19].direction.z, -0.1f);
    EXPECT_GT(keyframes[19].direction.x, 0.1f);
    EXPECT_LT(keyframes[40].direction.z, -0.95f);

    const std::vector<PathKeyframe> there =
        followingKeyframes({{0.0f, 0.0f, 0.0f}, {30.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}}, flat, followAt(300));
    for (const PathKeyframe& keyframe : there) EXPECT_TRUE(isUnit(keyframe.direction)) << keyframe.seconds << " s";
    EXPECT_TRUE(followingKeyframes({{5.0f, 0.0f, 5.0f}, {5.0f, 9.0f, 5.0f}}, flat, followAt(300)).empty());
}
