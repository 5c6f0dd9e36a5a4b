// The window system's callbacks: errors, discrete key commands and framebuffer resizes.
#pragma once

#include "math/Math.h"

struct GLFWwindow;

void errorCallback(int error, const char* description);
void keyCallback(GLFWwindow* window, int key, int scancode, int action, int mods);
// The view's projection in a window of width x height pixels (both above 0), out to the
// application's view distance in its depth convention.
mat4 windowProjection(int width, int height);
void framebufferSizeCallback(GLFWwindow* window, int width, int height);
