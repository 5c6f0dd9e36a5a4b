// The window system's callbacks: errors, discrete key commands, framebuffer resizes and dropped files.
#pragma once

struct GLFWwindow;

void errorCallback(int error, const char* description);
void keyCallback(GLFWwindow* window, int key, int scancode, int action, int mods);
void framebufferSizeCallback(GLFWwindow* window, int width, int height);
// Queues the dropped files for the next frame to open (Application::droppedFiles).
void dropCallback(GLFWwindow* window, int count, const char** paths);
