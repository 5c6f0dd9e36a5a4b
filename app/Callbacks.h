// The window system's callbacks: errors, discrete key commands, the mouse and framebuffer resizes.
#pragma once

struct GLFWwindow;

void errorCallback(int error, const char* description);
void keyCallback(GLFWwindow* window, int key, int scancode, int action, int mods);
// The mouse's buttons, motion and wheel navigate the view while mouse-look is off.
void mouseButtonCallback(GLFWwindow* window, int button, int action, int mods);
void cursorPositionCallback(GLFWwindow* window, double cursorX, double cursorY);
void scrollCallback(GLFWwindow* window, double xOffset, double yOffset);
void framebufferSizeCallback(GLFWwindow* window, int width, int height);
