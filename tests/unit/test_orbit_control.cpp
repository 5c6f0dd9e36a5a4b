// Mouse navigation against analytic ground: level ground at 0 and cone-shaped hills on it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "math/OrbitControl.h"
#include "tests/CursorProjection.h"

namespace {

constexpr double WIDTH = 800, HEIGHT = 600;

// A cone-shaped hill standing on level ground at 0; a slope of 0 leaves only the level ground.
struct Hill {
    vec3 top;
    float slope;

    float heightAt(float x, float z) const { return std::max(0.0f, top.y - slope * std::hypot(x - top.x, z - top.z)); }
    // Marches along the ray and settles the crossing by bisection: exact enough for the cone's kink.
    std::optional<vec3> pick(const vec3& origin, const vec3& direction) const {
        const auto above = [&](const vec3& p) { return p.y > heightAt(p.x, p.z); };
        if (!above(origin)) return origin;
        for (float reach = 0.05f; reach < 2000.0f; reach += 0.05f) {
            if (above(origin + direction * reach)) continue;
            float near = reach - 0.05f, far = reach;
            for (int i = 0; i < 30; ++i)
                (above(origin + direction * (0.5f * (near + far))) ? near : far) = 0.5f * (near + far);
            return origin + direction * far;
        }
        return std::nullopt;
    }
    GroundPick picker() const {
        return [hill = *this](const vec3& origin, const vec3& direction) { return hill.pick(origin, direction); };
    }
    OrbitControl control() const {
        return OrbitControl(picker(),
                            [hill = *this](float x, float z) { return std::optional<float>(hill.heightAt(x, z)); });
    }
};

const Hill LEVEL{{0.0f, 0.0f, 0.0f}, 0.0f};

OrbitViewport viewport() {
    return OrbitViewport{WIDTH, HEIGHT, perspective(0.87266463f, 800.0f / 600.0f, 0.01f, 600.0f)};
}

// At 20 above the ground, looking over the hill and somewhat down, with mouse-look off.
Camera camera(vec3 direction = vec3{0.7f, -0.4f, -0.7f}) {
    Camera result(400.0, 300.0);
    result.position = vec3{0.0f, 20.0f, 0.0f};
    result.direction = normalize(direction);
    result.isMouseLookEnabled = false;
    return result;
}

vec2 cursorOf(const Camera& camera, const vec3& point) {
    const mat4 modelview = lookAt(camera.position, camera.position + camera.direction, camera.up);
    return testing_support::cursorOf(point, modelview, viewport().projection, WIDTH, HEIGHT);
}

vec3 groundUnder(const Camera& camera, double x, double y, const GroundPick& pick) {
    const Ray ray =
        cursorRay(x, y, WIDTH, HEIGHT, lookAt(camera.position, camera.position + camera.direction, camera.up),
                  viewport().projection);
    return *pick(ray.origin, ray.direction);
}

float polar(const Camera& camera) { return std::acos(camera.direction.y); }

void drag(OrbitControl& control, Camera& viewer, MouseButton button, double x, double y, double dx, double dy) {
    control.buttonPressed(button, viewer, viewport(), x, y, 0.0);
    control.cursorMoved(viewer, viewport(), x + dx, y + dy);
}

}  // namespace

// Catches an orbit that turns the eye and the view by different rotations (the pivot slides on
// the screen) or that is not rigid about the pivot (the distance changes).
TEST(OrbitControl, OrbitKeepsThePivotsDistanceAndItsPlaceOnTheScreen) {
    const struct {
        double x, y, dx, dy;
    } cases[] = {{400, 450, 120, 0}, {400, 450, 0, 80}, {250, 500, -200, -60}, {650, 350, 300, 40}};
    for (const auto& c : cases) {
        Camera viewer = camera();
        OrbitControl control = LEVEL.control();
        const vec3 pivot = groundUnder(viewer, c.x, c.y, LEVEL.picker());
        const float distance = length(viewer.position - pivot);
        drag(control, viewer, MouseButton::Left, c.x, c.y, c.dx, c.dy);
        const vec2 onScreen = cursorOf(viewer, pivot);
        EXPECT_NEAR(length(viewer.position - pivot), distance, 1e-3f * distance) << c.x << "," << c.y;
        EXPECT_NEAR(onScreen.x, c.x, 0.05) << c.dx << "," << c.dy;
        EXPECT_NEAR(onScreen.y, c.y, 0.05) << c.dx << "," << c.dy;
        EXPECT_GT(length(viewer.position - vec3{0.0f, 20.0f, 0.0f}), 1.0f);
    }
}

// Catches a tilt that goes over the pole (the view flips, its azimuth turns round) and one that
// takes the eye under the ground, or stops it well short of the ground.
TEST(OrbitControl, TiltStopsShortOfThePoleAndAtTheGround) {
    const struct {
        double dy;
        bool stopsAtGround;
    } cases[] = {{5000, false}, {-5000, true}, {-300, true}};
    for (const auto& c : cases) {
        Camera viewer = camera();
        OrbitControl control = LEVEL.control();
        drag(control, viewer, MouseButton::Left, 400, 450, 0, c.dy);
        EXPECT_GE(polar(viewer), Camera::MIN_POLAR_ANGLE - 1e-5f) << c.dy;
        EXPECT_LE(polar(viewer), Camera::MAX_POLAR_ANGLE + 1e-5f) << c.dy;
        EXPECT_GT(viewer.direction.x, 0.0f) << c.dy;
        EXPECT_LT(viewer.direction.z, 0.0f) << c.dy;
        EXPECT_GE(viewer.position.y, OrbitControl::GROUND_CLEARANCE - 1e-3f) << c.dy;
        if (c.stopsAtGround) {
            EXPECT_LT(viewer.position.y, OrbitControl::GROUND_CLEARANCE + 0.05f) << c.dy;
        } else {
            EXPECT_NEAR(polar(viewer), Camera::MAX_POLAR_ANGLE, 1e-4f);
        }
    }
}

// Catches a zoom that steps past the picked point or into the hill, one whose steps are not a
// share of the distance, and one that loses the point from under the cursor on level ground.
TEST(OrbitControl, ZoomClosesInOnThePointUnderTheCursorAndNeverEntersTheGround) {
    const Hill cone{{60.0f, 30.0f, -60.0f}, 1.5f}, cliff{{40.0f, 60.0f, -40.0f}, 8.0f};
    const struct {
        Hill ground;
        double x, y, notchesPerTurn;
        int turns;
    } cases[] = {{LEVEL, 400, 450, 1, 60},
                 {cone, 400, 300, 1, 200},
                 {cone, 380, 260, 3, 50},
                 {cone, 420, 320, 0.25, 400},
                 {cliff, 400, 200, 1, 100}};
    for (const auto& c : cases) {
        Camera viewer = camera();
        OrbitControl control = c.ground.control();
        float distance = 0.0f;
        for (int turn = 0; turn < c.turns; ++turn) {
            const vec3 target = groundUnder(viewer, c.x, c.y, c.ground.picker());
            const float before = length(viewer.position - target);
            control.wheelTurned(viewer, viewport(), c.x, c.y, c.notchesPerTurn);
            distance = length(viewer.position - target);
            const float ground = c.ground.heightAt(viewer.position.x, viewer.position.z);
            ASSERT_GE(viewer.position.y, ground + OrbitControl::GROUND_CLEARANCE - 1e-3f) << "turn " << turn;
            ASSERT_LE(distance, before + 1e-4f) << "turn " << turn;
            ASSERT_GE(distance, OrbitControl::CLOSEST_DISTANCE - 1e-3f) << "turn " << turn;
            if (turn == 0) {
                EXPECT_NEAR(distance, before * std::pow(0.85, c.notchesPerTurn), 1e-3f * before);
            }
            // Raised to the clearance, the eye leaves the cursor ray.
            if (c.ground.slope == 0.0f && viewer.position.y > OrbitControl::GROUND_CLEARANCE + 1e-3f) {
                const vec2 onScreen = cursorOf(viewer, target);
                EXPECT_NEAR(onScreen.x, c.x, 0.05);
                EXPECT_NEAR(onScreen.y, c.y, 0.05);
            }
        }
        EXPECT_LT(distance, OrbitControl::CLOSEST_DISTANCE + OrbitControl::GROUND_CLEARANCE * 2.0f);
    }
}

// Catches zooming out that is not the inverse of zooming in, zooming in that backs off from a
// point already nearer than the closest distance, and a zoom on the sky that goes anywhere but
// along the view.
TEST(OrbitControl, ZoomOutUndoesZoomInNeverBacksOffAndOnTheSkyFollowsTheView) {
    Camera viewer = camera();
    OrbitControl control = LEVEL.control();
    control.wheelTurned(viewer, viewport(), 400, 450, 2);
    control.wheelTurned(viewer, viewport(), 400, 450, -2);
    EXPECT_NEAR(length(viewer.position - vec3{0.0f, 20.0f, 0.0f}), 0.0f, 1e-3f);

    // Level with the cliff's face at 30 and 0.3 out from it, looking at it.
    const Hill cliff{{40.0f, 60.0f, -40.0f}, 8.0f};
    Camera atTheFace = camera(vec3{0.7f, 0.0f, -0.7f});
    atTheFace.position = vec3{40.0f - 4.05f * 0.70710678f, 30.0f, -40.0f + 4.05f * 0.70710678f};
    const vec3 close = atTheFace.position;
    OrbitControl onTheCliff = cliff.control();
    onTheCliff.wheelTurned(atTheFace, viewport(), 400, 300, 1);
    EXPECT_EQ(length(atTheFace.position - close), 0.0f);

    Camera level = camera(vec3{0.7f, 0.0f, -0.7f});
    control.wheelTurned(level, viewport(), 400, 100, 1);
    const vec3 moved = level.position - vec3{0.0f, 20.0f, 0.0f};
    EXPECT_NEAR(length(moved), 0.15f * 20.0f * OrbitControl::SKY_DISTANCE_PER_HEIGHT, 1e-3f);
    EXPECT_NEAR(dot(normalize(moved), level.direction), 1.0f, 1e-5f);
}

// Catches a pan that slides the grabbed point away from the cursor, tilts or lifts the camera,
// throws it far off when the cursor reaches the sky, or goes on after the button is released.
TEST(OrbitControl, PanKeepsTheGrabbedPointUnderTheCursor) {
    const struct {
        double x, y, toX, toY;
        bool moves;
    } cases[] = {
        {400, 450, 500, 450, true}, {400, 450, 300, 550, true}, {200, 550, 600, 350, true}, {400, 450, 400, 20, false}};
    for (const auto& c : cases) {
        Camera viewer = camera();
        const Camera before = viewer;
        OrbitControl control = LEVEL.control();
        const vec3 grabbed = groundUnder(viewer, c.x, c.y, LEVEL.picker());
        drag(control, viewer, MouseButton::Right, c.x, c.y, c.toX - c.x, c.toY - c.y);
        EXPECT_EQ(viewer.position.y, before.position.y);
        EXPECT_EQ(length(viewer.direction - before.direction), 0.0f);
        if (!c.moves) {
            EXPECT_EQ(length(viewer.position - before.position), 0.0f);
            continue;
        }
        const vec2 onScreen = cursorOf(viewer, grabbed);
        EXPECT_NEAR(onScreen.x, c.toX, 0.05);
        EXPECT_NEAR(onScreen.y, c.toY, 0.05);
        control.buttonReleased(MouseButton::Right);
        const vec3 released = viewer.position;
        control.cursorMoved(viewer, viewport(), c.x, c.y);
        EXPECT_EQ(length(viewer.position - released), 0.0f);
    }
}

// Catches double-clicks told by time or place alone, a third click taken as a second double-click,
// and a flight started on the sky.
TEST(OrbitControl, OnlyTwoLeftPressesCloseInTimeAndPlaceOnTheGroundFly) {
    const struct {
        double secondAfter, secondX, secondY;
        MouseButton button;
        bool flies;
    } cases[] = {{0.3, 400, 450, MouseButton::Left, true},
                 {0.3, 403, 453, MouseButton::Left, true},
                 {0.6, 400, 450, MouseButton::Left, false},
                 {0.3, 410, 450, MouseButton::Left, false},
                 {0.3, 400, 450, MouseButton::Right, false}};
    for (const auto& c : cases) {
        Camera viewer = camera();
        OrbitControl control = LEVEL.control();
        control.buttonPressed(MouseButton::Left, viewer, viewport(), 400, 450, 10.0);
        control.buttonReleased(MouseButton::Left);
        control.buttonPressed(c.button, viewer, viewport(), c.secondX, c.secondY, 10.0 + c.secondAfter);
        EXPECT_EQ(control.isFlying(), c.flies) << c.secondAfter << " " << c.secondX;
        control.buttonReleased(c.button);
        control.buttonPressed(MouseButton::Left, viewer, viewport(), c.secondX, c.secondY, 10.1 + c.secondAfter);
        EXPECT_EQ(control.isFlying(), !c.flies && c.button == MouseButton::Left) << "third press";
    }
    Camera level = camera(vec3{0.7f, 0.0f, -0.7f});
    OrbitControl control = LEVEL.control();
    control.doubleClicked(level, viewport(), 400, 100);
    EXPECT_FALSE(control.isFlying());
}

// Catches a flight that ends anywhere but looking at the point from nearer at 0.5 s, backs off on
// the way, starts with a jump, ends in the ground, turns its heading or looks steeper than the
// camera may, or carries on once the keys steer.
TEST(OrbitControl, FlightEasesInToThePointOverHalfASecondUnlessKeysTakeOver) {
    Camera viewer = camera();
    OrbitControl control = LEVEL.control();
    const vec3 target = groundUnder(viewer, 500, 400, LEVEL.picker());
    const float startDistance = length(viewer.position - target);
    control.doubleClicked(viewer, viewport(), 500, 400);
    float distance = startDistance, firstStep = 0.0f, longestStep = 0.0f;
    for (int frame = 0; frame < 30; ++frame) {
        ASSERT_TRUE(control.isFlying()) << frame;
        const vec3 before = viewer.position;
        control.advance(viewer, 1.0f / 60.0f, false);
        const float step = length(viewer.position - before);
        if (frame == 0) firstStep = step;
        longestStep = std::max(longestStep, step);
        EXPECT_LE(length(viewer.position - target), distance + 1e-4f) << frame;
        distance = length(viewer.position - target);
    }
    control.advance(viewer, 1e-3f, false);
    EXPECT_FALSE(control.isFlying());
    EXPECT_NEAR(distance, startDistance * OrbitControl::FLIGHT_DISTANCE_KEPT, 1e-3f * startDistance);
    EXPECT_NEAR(dot(viewer.direction, normalize(target - viewer.position)), 1.0f, 1e-5f);
    EXPECT_LT(firstStep, 0.1f * longestStep);

    // Level ground seen level: the eye would end at the point's height, so it rises and tilts down
    // to the point, keeping its heading; with ground far above there, no steeper than the camera may.
    const struct { float groundAtTheEnd; } rises[] = {{0.0f}, {5000.0f}};
    for (const auto& r : rises) {
        Camera level = camera(vec3{0.7f, 0.0f, -0.7f});
        OrbitControl lifted(LEVEL.picker(),
                            [&](float x, float) { return std::optional<float>(x > 5.0f ? r.groundAtTheEnd : 0.0f); });
        const vec3 point = groundUnder(level, 400, 450, LEVEL.picker());
        lifted.doubleClicked(level, viewport(), 400, 450);
        lifted.advance(level, OrbitControl::FLIGHT_SECONDS, false);
        EXPECT_GE(level.position.y, r.groundAtTheEnd + OrbitControl::GROUND_CLEARANCE - 1e-3f);
        EXPECT_NEAR(level.direction.x + level.direction.z, 0.0f, 1e-5f);
        EXPECT_GT(level.direction.x, 0.0f);
        EXPECT_LE(polar(level), Camera::MAX_POLAR_ANGLE + 1e-5f);
        if (r.groundAtTheEnd == 0.0f) {
            EXPECT_NEAR(dot(level.direction, normalize(point - level.position)), 1.0f, 1e-5f);
        }
    }

    Camera steered = camera();
    control.doubleClicked(steered, viewport(), 500, 400);
    control.advance(steered, 0.1f, false);
    const vec3 flown = steered.position;
    control.advance(steered, 0.1f, true);
    EXPECT_FALSE(control.isFlying());
    EXPECT_EQ(length(steered.position - flown), 0.0f);
}

// Catches any mouse event that acts while mouse-look turns the view instead.
TEST(OrbitControl, NothingMovesWhileMouseLookIsOn) {
    Camera viewer = camera();
    viewer.isMouseLookEnabled = true;
    const Camera before = viewer;
    OrbitControl control = LEVEL.control();
    for (const MouseButton button : {MouseButton::Left, MouseButton::Right}) {
        drag(control, viewer, button, 400, 450, 100, 50);
        control.buttonReleased(button);
    }
    control.wheelTurned(viewer, viewport(), 400, 450, 3);
    control.buttonPressed(MouseButton::Left, viewer, viewport(), 400, 450, 0.1);
    control.doubleClicked(viewer, viewport(), 400, 450);
    control.advance(viewer, 0.5f, false);
    EXPECT_FALSE(control.isFlying());
    EXPECT_EQ(length(viewer.position - before.position), 0.0f);
    EXPECT_EQ(length(viewer.direction - before.direction), 0.0f);
}
