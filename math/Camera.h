// The free-flying viewer: eye point, unit view direction and fixed up vector,
// moved and turned once per frame from the keyboard and the cursor.
#pragma once

#include "math/Math.h"

// What the camera reads from the window system for one update. Production code fills it
// from GLFW; tests fill it by hand.
struct CameraInput {
    double cursorX = 0, cursorY = 0;
    bool forward = false, backward = false;       // W, S
    bool left = false, right = false;             // A, D
    bool up = false, down = false;                // G, V
    bool turnLeft = false, turnRight = false;     // Q, E
    bool lookUp = false, lookDown = false;        // F, C
    bool fast = false, slow = false;              // Left Shift, Left Alt

    // Whether a key that moves or turns the camera is held (the speed modifiers alone do neither).
    bool isSteering() const {
        return forward || backward || left || right || up || down || turnLeft || turnRight || lookUp || lookDown;
    }
};

class Camera {
public:
    // The view direction's angle from the zenith stays within these, so that it never reaches the
    // vertical, where the fixed up vector would leave its side axis undefined.
    static constexpr float MIN_POLAR_ANGLE = 0.03141593f;  // pi / 100
    static constexpr float MAX_POLAR_ANGLE = 3.1101768f;   // 0.99 pi

    vec3 position{0.0f, 15.0f, 0.0f};
    vec3 direction{0.0f, 0.0f, -1.0f};
    vec3 up{0.0f, 1.0f, 0.0f};
    float moveSpeed = 15.0f;
    float turnSpeed = 1.0f;
    float mouseSensitivity = 0.01f;
    bool isMouseLookEnabled = true;
    double lastCursorX = 0;
    double lastCursorY = 0;
    // Whether the next cursor sample only becomes the reference, turning nothing.
    bool isCursorReferencePending = false;

    // Centres the cursor on the window's framebuffer.
    Camera();
    // Builds a camera whose cursor reference starts at the given point, without a window.
    Camera(double cursorX, double cursorY);

    // Polls the keyboard and the cursor of the application's window, then steps; returns the input
    // it stepped by.
    CameraInput update(float elapsedSeconds);
    // Moves and turns by one step of the given input.
    void step(const CameraInput& input, float elapsedSeconds);
    // To be called when the window system has just captured the cursor for mouse-look. The
    // position it reports then says nothing of the mouse's motion (the capture reads the pointer
    // wherever it is and may move it), so the next sample is taken as the reference.
    void cursorCaptured();
};
