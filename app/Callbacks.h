// The window system's callbacks: errors, discrete key commands, the mouse's buttons and wheel,
// typed characters, framebuffer resizes and dropped files.
#pragma once

struct GLFWwindow;

void errorCallback(int error, const char* description);
void keyCallback(GLFWwindow* window, int key, int scancode, int action, int mods);
void characterCallback(GLFWwindow* window, unsigned int codepoint);
void mouseButtonCallback(GLFWwindow* window, int button, int action, int mods);
void scrollCallback(GLFWwindow* window, double xOffset, double yOffset);
void framebufferSizeCallback(GLFWwindow* window, int width, int height);
// Queues the dropped files for the next frame to open (Application::droppedFiles).
void dropCallback(GLFWwindow* window, int count, const char** paths);
