// Discrete key commands, mouse navigation, GLFW error reporting, and the projection and targets that
// follow the window size.
#include "app/Callbacks.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>

#include "app/Application.h"
#include "app/SavedViewCommands.h"
#include "app/ViewSettings.h"
#include "math/Camera.h"
#include "math/OrbitControl.h"
#include "post/FinalProcessingEffect.h"
#include "post/Framebuffer.h"
#include "scene/Terrain.h"
#include "ui/Panel.h"
#include "ui/PathMeasuring.h"

namespace {

// Vertical field of view (50 degrees) and the viewer's nearest clip plane; the far one is the view distance.
constexpr float FIELD_OF_VIEW = 0.87266463f;
constexpr float NEAR_PLANE = 0.01f;

const char* const VIEW_NAMES[4] = {"Bloom enabled", "Bloom disabled", "Bright texture", "Smoothed bloom texture"};

// The gain is stepped in double precision, the threshold in single; neither goes below 0.
void stepBloomSetting(GLFWwindow* window, int direction) {
    Application& app = Application::instance();
    if (glfwGetKey(window, GLFW_KEY_LEFT_SHIFT) != 0) {
        float& gain = app.finalProcessingEffect->bloomGain;
        const double raised = static_cast<double>(gain) + direction * 0.25;
        gain = static_cast<float>(std::max(raised, 0.0));
        std::cout << "Bloom gain: " << gain << std::endl;
    } else {
        float& threshold = app.terrain->bloomThreshold;
        const float raised = direction > 0 ? threshold + 0.05f : threshold - 0.05f;
        threshold = std::max(raised, 0.0f);
        std::cout << "Bloom threshold: " << threshold << std::endl;
    }
}

// The window's cursor range and the view's projection; false while the window is minimised.
bool orbitViewport(GLFWwindow* window, OrbitViewport& viewport) {
    int width = 0, height = 0;
    glfwGetWindowSize(window, &width, &height);
    if (width <= 0 || height <= 0) return false;
    viewport = OrbitViewport{static_cast<double>(width), static_cast<double>(height),
                             Application::instance().projection};
    return true;
}

// Page Up and Page Down step the exaggeration by a quarter up, or down by as much.
void stepExaggeration(int direction) {
    Application& app = Application::instance();
    ViewSettings settings = viewSettingsOf(app);
    constexpr double STEP = 1.25;
    const double stepped = direction > 0 ? settings.exaggeration * STEP : settings.exaggeration / STEP;
    settings.exaggeration = std::clamp(stepped, LEAST_EXAGGERATION, GREATEST_EXAGGERATION);
    applyViewSettings(app, settings);
    std::cout << "Exaggeration: " << settings.exaggeration << std::endl;
}

// Says where the ground under the cursor is, on standard output and on the clipboard. While the
// mouse looks around the cursor is hidden and the view's centre stands for it.
void reportPointUnderCursor(GLFWwindow* window) {
    Application& app = Application::instance();
    int width = 0, height = 0;
    glfwGetWindowSize(window, &width, &height);
    if (width <= 0 || height <= 0) return;
    double x = 0.5 * width, y = 0.5 * height;
    if (!app.camera->isMouseLookEnabled) glfwGetCursorPos(window, &x, &y);
    const Ray ray = cursorRay(x, y, width, height, app.modelview, app.projection);
    const std::optional<GroundHit> hit = app.terrain->pick(ray.origin, ray.direction);
    const std::string text = groundPointText(hit ? app.terrain->describe(hit->point) : GroundPoint{});
    std::cout << "Point: " << text << std::endl;
    glfwSetClipboardString(window, text.c_str());
}

}  // namespace

mat4 windowProjection(int width, int height) {
    const Application& app = Application::instance();
    return viewProjection(FIELD_OF_VIEW, static_cast<float>(width) / static_cast<float>(height), NEAR_PLANE,
                          app.terrainOptions.viewDistance, app.depthConvention);
}

void errorCallback(int, const char* description) { std::fprintf(stderr, "GLFW Error: %s\n", description); }

void keyCallback(GLFWwindow* window, int key, int scancode, int action, int mods) {
    const bool pressed = action == GLFW_PRESS;
    Application& application = Application::instance();
    if (application.isPanelShown) {
        application.panel->key(key, scancode, action, mods);
        // Typing into the panel is not a command.
        if (application.panel->wantsKeyboard()) return;
    }
    if (key == GLFW_KEY_F1) {
        if (pressed) application.showPanel(!application.isPanelShown);
    } else if (key == GLFW_KEY_F12) {
        if (pressed) ++application.screenshotsAsked;
    } else if (key == GLFW_KEY_ESCAPE) {
        if (pressed) glfwSetWindowShouldClose(window, 1);
    } else if (key == GLFW_KEY_M) {
        // The cursor stays free while the panel is shown.
        if (!pressed || application.isPanelShown) return;
        Camera& camera = *application.camera;
        camera.isMouseLookEnabled = !camera.isMouseLookEnabled;
        glfwSetInputMode(window, GLFW_CURSOR, camera.isMouseLookEnabled ? GLFW_CURSOR_DISABLED : GLFW_CURSOR_NORMAL);
        if (camera.isMouseLookEnabled) camera.cursorCaptured();
    } else if (key >= GLFW_KEY_0 && key <= GLFW_KEY_9) {
        const int digit = key - GLFW_KEY_0;
        switch (application.digitChords.command(digit, action, mods)) {
        case DigitCommand::ShadingMode:
            // Mode keys act on press, repeat and release alike.
            application.terrainMode = digit;
            application.terrain->shader = application.terrainShaders[digit - 1].get();
            break;
        case DigitCommand::SaveView:
            saveView(application, digit);
            break;
        case DigitCommand::RecallView:
            recallView(application, digit);
            break;
        case DigitCommand::None:
            break;
        }
    } else if (key == GLFW_KEY_B) {
        if (!pressed) return;
        FinalProcessingEffect& final = *Application::instance().finalProcessingEffect;
        final.debugMode = (final.debugMode + 1) % 4;
        std::cout << VIEW_NAMES[final.debugMode] << std::endl;
    } else if (key == GLFW_KEY_COMMA) {
        if (pressed) stepBloomSetting(window, -1);
    } else if (key == GLFW_KEY_PERIOD) {
        if (pressed) stepBloomSetting(window, +1);
    } else if (key == GLFW_KEY_PAGE_UP || key == GLFW_KEY_PAGE_DOWN) {
        if (pressed) stepExaggeration(key == GLFW_KEY_PAGE_UP ? +1 : -1);
    } else if (key == GLFW_KEY_R) {
        if (pressed) application.toggleRecording();
    } else if (key == GLFW_KEY_I) {
        if (pressed) reportPointUnderCursor(window);
    } else if (key == GLFW_KEY_LEFT_BRACKET || key == GLFW_KEY_RIGHT_BRACKET) {
        // A quarter of an hour a press, or two hours with Shift; held, the keys repeat.
        if (action == GLFW_RELEASE) return;
        const long long minutes = (mods & GLFW_MOD_SHIFT) != 0 ? 120 : 15;
        application.moveSunTime(key == GLFW_KEY_RIGHT_BRACKET ? minutes : -minutes);
    }
}

void characterCallback(GLFWwindow*, unsigned int codepoint) {
    Application& application = Application::instance();
    if (application.isPanelShown) application.panel->character(codepoint);
}

namespace {

// Whether the panel takes the mouse's events: it is shown and the pointer is over it (or it is
// dragging one of its own controls).
bool panelTakesMouse() {
    const Application& application = Application::instance();
    return application.isPanelShown && application.panel->wantsMouse();
}

}  // namespace

void mouseButtonCallback(GLFWwindow* window, int button, int action, int mods) {
    Application& app = Application::instance();
    if (app.isPanelShown) app.panel->mouseButton(button, action, mods);
    if (!app.orbitControl || (button != GLFW_MOUSE_BUTTON_LEFT && button != GLFW_MOUSE_BUTTON_RIGHT)) return;
    const MouseButton which = button == GLFW_MOUSE_BUTTON_LEFT ? MouseButton::Left : MouseButton::Right;
    // A release always ends a drag, wherever the pointer is.
    if (action == GLFW_RELEASE) {
        app.orbitControl->buttonReleased(which);
        return;
    }
    if (panelTakesMouse()) return;
    OrbitViewport viewport;
    if (!orbitViewport(window, viewport)) return;
    double cursorX = 0, cursorY = 0;
    glfwGetCursorPos(window, &cursorX, &cursorY);
    // Ctrl and a click, or a click in measure mode, lays the path instead of grabbing the view.
    const bool measures = (mods & GLFW_MOD_CONTROL) != 0 || app.isMeasureModeOn;
    if (which == MouseButton::Left && measures && !app.camera->isMouseLookEnabled) {
        const Ray ray = cursorRay(cursorX, cursorY, viewport.width, viewport.height, app.modelview, app.projection);
        if (const std::optional<GroundHit> hit = app.terrain->pick(ray.origin, ray.direction)) {
            app.pathMeasuring->add(*app.terrain, hit->point);
        }
        return;
    }
    app.orbitControl->buttonPressed(which, *app.camera, viewport, cursorX, cursorY, glfwGetTime());
}

void cursorPositionCallback(GLFWwindow* window, double cursorX, double cursorY) {
    Application& app = Application::instance();
    OrbitViewport viewport;
    if (!app.orbitControl || !orbitViewport(window, viewport)) return;
    app.orbitControl->cursorMoved(*app.camera, viewport, cursorX, cursorY);
}

void scrollCallback(GLFWwindow* window, double xOffset, double yOffset) {
    Application& app = Application::instance();
    if (app.isPanelShown) app.panel->scroll(xOffset, yOffset);
    OrbitViewport viewport;
    if (!app.orbitControl || panelTakesMouse() || !orbitViewport(window, viewport)) return;
    double cursorX = 0, cursorY = 0;
    glfwGetCursorPos(window, &cursorX, &cursorY);
    app.orbitControl->wheelTurned(*app.camera, viewport, cursorX, cursorY, yOffset);
}

void framebufferSizeCallback(GLFWwindow*, int width, int height) {
    // A minimised window reports a zero side; keep the last projection and targets until it comes back.
    if (width <= 0 || height <= 0) return;

    Application& app = Application::instance();
    app.projection = windowProjection(width, height);
    glViewport(0, 0, width, height);
    app.outputWidth = width;
    app.outputHeight = height;
    // A window beyond the device's limits is drawn at the largest size it allows and stretched,
    // since a target of the window's size would be incomplete.
    int largestWidth = 0, largestHeight = 0;
    largestRenderTargetSize(largestWidth, largestHeight);
    const int sceneWidth = std::min(width, largestWidth);
    const int sceneHeight = std::min(height, largestHeight);
    app.mainFramebuffer->resize(sceneWidth, sceneHeight);
    // The blur targets are a quarter of the scene's size a side, at least one texel (see blurGridOf).
    app.blurGrid = blurGridOf(sceneWidth, sceneHeight, 0, 0, sceneWidth, sceneHeight);
    app.blurFramebufferA->resize(app.blurGrid.width, app.blurGrid.height);
    app.blurFramebufferB->resize(app.blurGrid.width, app.blurGrid.height);
}

void dropCallback(GLFWwindow*, int count, const char** paths) {
    std::vector<std::string>& dropped = Application::instance().droppedFiles;
    dropped.insert(dropped.end(), paths, paths + count);
}
