// Camera motion: keys move and turn it scaled by the frame time, the cursor turns it directly.
#include "math/Camera.h"

#include <GLFW/glfw3.h>

#include <cmath>

#include "app/Application.h"

namespace {

bool isHeld(GLFWwindow* window, int key) { return glfwGetKey(window, key) != 0; }

}  // namespace

Camera::Camera() {
    GLFWwindow* window = Application::instance().window;
    int width = 0, height = 0;
    glfwGetFramebufferSize(window, &width, &height);
    lastCursorX = width * 0.5;
    lastCursorY = height * 0.5;
    glfwSetCursorPos(window, lastCursorX, lastCursorY);
    cursorCaptured();
}

Camera::Camera(double cursorX, double cursorY) : lastCursorX(cursorX), lastCursorY(cursorY) {}

CameraInput Camera::update(float elapsedSeconds) {
    GLFWwindow* window = Application::instance().window;
    CameraInput input;
    glfwGetCursorPos(window, &input.cursorX, &input.cursorY);
    input.forward = isHeld(window, GLFW_KEY_W);
    input.backward = isHeld(window, GLFW_KEY_S);
    input.left = isHeld(window, GLFW_KEY_A);
    input.right = isHeld(window, GLFW_KEY_D);
    input.up = isHeld(window, GLFW_KEY_G);
    input.down = isHeld(window, GLFW_KEY_V);
    input.turnLeft = isHeld(window, GLFW_KEY_Q);
    input.turnRight = isHeld(window, GLFW_KEY_E);
    input.lookUp = isHeld(window, GLFW_KEY_F);
    input.lookDown = isHeld(window, GLFW_KEY_C);
    input.fast = isHeld(window, GLFW_KEY_LEFT_SHIFT);
    input.slow = isHeld(window, GLFW_KEY_LEFT_ALT);
    step(input, elapsedSeconds);
    return input;
}

void Camera::cursorCaptured() { isCursorReferencePending = true; }

void Camera::step(const CameraInput& input, float elapsedSeconds) {
    if (isCursorReferencePending) {
        lastCursorX = input.cursorX;
        lastCursorY = input.cursorY;
        isCursorReferencePending = false;
    }
    // Motion made while mouse-look is off is consumed here, so it never turns the view later.
    const double dx = input.cursorX - lastCursorX;
    const double dy = input.cursorY - lastCursorY;
    lastCursorX = input.cursorX;
    lastCursorY = input.cursorY;

    float speedFactor = 1.0f;
    if (input.fast) speedFactor = 5.0f;
    if (input.slow) speedFactor = 0.25f;

    const auto scaled = [&](const vec3& v) {
        return vec3{v.x * moveSpeed * elapsedSeconds * speedFactor, v.y * moveSpeed * elapsedSeconds * speedFactor,
                    v.z * moveSpeed * elapsedSeconds * speedFactor};
    };
    if (input.forward) position = position + scaled(direction);
    if (input.backward) position = position - scaled(direction);

    const vec3 side = normalize(vec3{direction.z, 0.0f, -direction.x});
    if (input.left) position = position + scaled(side);
    if (input.right) position = position - scaled(side);

    float theta = static_cast<float>(std::acos(static_cast<double>(direction.y)));
    float phi = static_cast<float>(std::atan2(static_cast<double>(direction.z), static_cast<double>(direction.x)));

    if (isMouseLookEnabled) {
        const double tenth = 0.1f;
        phi = static_cast<float>(phi + dx * tenth * turnSpeed * mouseSensitivity);
        theta = static_cast<float>(theta + dy * tenth * turnSpeed * mouseSensitivity);
    }

    const float turn = turnSpeed * elapsedSeconds * speedFactor;
    if (input.turnLeft) phi -= turn;
    if (input.turnRight) phi += turn;
    if (input.lookUp) theta -= turn;
    if (input.lookDown) theta += turn;

    if (theta < MIN_POLAR_ANGLE) theta = MIN_POLAR_ANGLE;
    if (theta > MAX_POLAR_ANGLE) theta = MAX_POLAR_ANGLE;

    direction = vec3{math::cos(phi) * math::sin(theta), math::cos(theta), math::sin(phi) * math::sin(theta)};

    const float climb = moveSpeed * elapsedSeconds * speedFactor;
    if (input.up) position.y += climb;
    if (input.down) position.y -= climb;
}
