// The window system's callbacks: errors, discrete key commands, the mouse, typed characters,
// framebuffer resizes and dropped files.
#pragma once

#include "math/Math.h"

struct GLFWwindow;

void errorCallback(int error, const char* description);
void keyCallback(GLFWwindow* window, int key, int scancode, int action, int mods);
void characterCallback(GLFWwindow* window, unsigned int codepoint);
// The mouse steers the camera while mouse-look is off (math/OrbitControl.h), where the panel does
// not take it.
void mouseButtonCallback(GLFWwindow* window, int button, int action, int mods);
void cursorPositionCallback(GLFWwindow* window, double cursorX, double cursorY);
void scrollCallback(GLFWwindow* window, double xOffset, double yOffset);
// The view's projection in a window of width x height pixels (both above 0), out to the
// application's view distance in its depth convention.
mat4 windowProjection(int width, int height);
void framebufferSizeCallback(GLFWwindow* window, int width, int height);
// Queues the dropped files for the next frame to open (Application::droppedFiles).
void dropCallback(GLFWwindow* window, int count, const char** paths);
