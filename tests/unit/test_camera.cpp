// Camera motion and turning from given input, without a window.
#include <gtest/gtest.h>

#include <cmath>

#include "math/Camera.h"

namespace {

constexpr float INV_SQRT2 = 0.70710678f;

// The pose the terrain gives the camera at start-up with the default height scale.
Camera startPose() {
    Camera camera(400.0, 300.0);
    camera.position = vec3{0.0f, 20.0f, 0.0f};
    camera.direction = vec3{INV_SQRT2, 0.0f, -INV_SQRT2};
    return camera;
}

CameraInput still(const Camera& camera) {
    CameraInput input;
    input.cursorX = camera.lastCursorX;
    input.cursorY = camera.lastCursorY;
    return input;
}

// Holds the input for one second split into frames.
void hold(Camera& camera, CameraInput input, int frames = 60) {
    for (int i = 0; i < frames; ++i) camera.step(input, 1.0f / frames);
}

float azimuth(const Camera& camera) { return std::atan2(camera.direction.z, camera.direction.x); }
float polar(const Camera& camera) { return std::acos(camera.direction.y); }

}  // namespace

TEST(Camera, OneSecondOfForwardOrLeftFromTheStartPose) {
    Camera forward = startPose();
    CameraInput input = still(forward);
    input.forward = true;
    hold(forward, input);
    EXPECT_NEAR(forward.position.x, 10.607f, 1e-3f);
    EXPECT_NEAR(forward.position.y, 20.0f, 1e-5f);
    EXPECT_NEAR(forward.position.z, -10.607f, 1e-3f);

    Camera left = startPose();
    input = still(left);
    input.left = true;
    hold(left, input);
    EXPECT_NEAR(left.position.x, -10.607f, 1e-3f);
    EXPECT_NEAR(left.position.y, 20.0f, 1e-5f);
    EXPECT_NEAR(left.position.z, -10.607f, 1e-3f);
}

TEST(Camera, OpposingKeysCancelAndModifiersScale) {
    Camera camera = startPose();
    CameraInput input = still(camera);
    input.forward = input.backward = input.left = input.right = input.up = input.down = true;
    input.turnLeft = input.turnRight = input.lookUp = input.lookDown = true;
    hold(camera, input);
    EXPECT_NEAR(camera.position.x, 0.0f, 1e-4f);
    EXPECT_NEAR(camera.position.y, 20.0f, 1e-4f);
    EXPECT_NEAR(camera.position.z, 0.0f, 1e-4f);
    EXPECT_NEAR(camera.direction.x, INV_SQRT2, 1e-5f);

    Camera fast = startPose();
    input = still(fast);
    input.up = true;
    input.fast = true;
    hold(fast, input);
    EXPECT_NEAR(fast.position.y, 20.0f + 75.0f, 1e-3f);

    Camera both = startPose();
    input.slow = true;
    hold(both, input);
    EXPECT_NEAR(both.position.y, 20.0f + 3.75f, 1e-4f);
}

TEST(Camera, VerticalMovesChangeOnlyHeightAndSideMovesNeverDo) {
    Camera camera = startPose();
    camera.direction = normalize(vec3{0.3f, 0.8f, -0.5f});
    CameraInput input = still(camera);
    input.left = true;
    hold(camera, input);
    EXPECT_FLOAT_EQ(camera.position.y, 20.0f);

    input.left = false;
    input.down = true;
    const vec3 before = camera.position;
    hold(camera, input);
    EXPECT_EQ(camera.position.x, before.x);
    EXPECT_EQ(camera.position.z, before.z);
    EXPECT_NEAR(camera.position.y, 5.0f, 1e-4f);

    input.down = false;
    input.forward = true;
    hold(camera, input);
    EXPECT_GT(camera.position.y, 5.0f);  // forward follows the full direction, so it climbs
}

TEST(Camera, HundredCursorUnitsTurnATenthOfARadianWhateverTheFrameTime) {
    for (float dt : {0.0f, 0.016f, 0.5f}) {
        Camera camera = startPose();
        const float before = azimuth(camera);
        CameraInput input = still(camera);
        input.cursorX += 100.0;
        camera.step(input, dt);
        EXPECT_NEAR(azimuth(camera) - before, 0.1f, 1e-5f) << "dt " << dt;
        EXPECT_EQ(camera.position.x, 0.0f);
    }
}

TEST(Camera, CursorDownLooksDownAndKeysTurnAtTurnSpeed) {
    Camera camera = startPose();
    CameraInput input = still(camera);
    input.cursorY += 100.0;
    camera.step(input, 0.0f);
    EXPECT_NEAR(polar(camera), 1.5707964f + 0.1f, 1e-5f);

    Camera turning = startPose();
    input = still(turning);
    input.turnRight = true;
    hold(turning, input);
    EXPECT_NEAR(azimuth(turning), -0.7853982f + 1.0f, 1e-4f);
}

TEST(Camera, PitchStopsShortOfTheVertical) {
    Camera camera = startPose();
    CameraInput input = still(camera);
    input.lookUp = true;
    hold(camera, input, 10);
    hold(camera, input, 10);
    EXPECT_NEAR(polar(camera), 0.03141593f, 1e-5f);

    input.lookUp = false;
    input.cursorY += 100000.0;
    camera.step(input, 0.0f);
    EXPECT_NEAR(polar(camera), 3.1101768f, 1e-5f);
    EXPECT_NEAR(length(camera.direction), 1.0f, 1e-6f);
}

TEST(Camera, MotionWhileMouseLookIsOffIsDiscarded) {
    Camera camera = startPose();
    camera.isMouseLookEnabled = false;
    CameraInput input = still(camera);
    input.cursorX += 250.0;
    input.cursorY += 80.0;
    camera.step(input, 0.016f);
    EXPECT_NEAR(camera.direction.x, INV_SQRT2, 1e-6f);

    camera.isMouseLookEnabled = true;
    camera.step(input, 0.016f);  // the cursor has not moved since
    EXPECT_NEAR(camera.direction.x, INV_SQRT2, 1e-6f);
    EXPECT_NEAR(camera.direction.z, -INV_SQRT2, 1e-6f);
}
