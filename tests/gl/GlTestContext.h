// Shared GL context for the GL tests: one hidden 800 x 600 window under Xvfb with a debug context,
// created before any test runs, with an Application registered whose window is that window.
#pragma once

#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include <functional>
#include <string>
#include <vector>

class Application;

namespace gltest {

GLFWwindow* window();
Application& application();

// The path of a file of the generated run-time data set ("Textures/Grass.bmp").
std::string dataFile(const std::string& relative);

// Reads back a rectangle of the bound read framebuffer as RGBA floats, bottom row first.
std::vector<float> readPixels(int x, int y, int width, int height);

// A 2D RGBA32F texture of the given size with the given texels (bottom row first).
GLuint makeFloatTexture(int width, int height, const std::vector<float>& rgba);

// Every GL error that the driver reports fails the running test with the driver's message. A test
// that provokes errors on purpose holds one of these meanwhile: errors are counted instead.
struct ExpectedGlErrors {
    ExpectedGlErrors();
    ~ExpectedGlErrors();
    ExpectedGlErrors(const ExpectedGlErrors&) = delete;
    ExpectedGlErrors& operator=(const ExpectedGlErrors&) = delete;

    int count = 0;
};

// Runs the call in a death-test child with standard output sent to a file, expects it to end the
// process with exit code 1, and returns what it printed.
std::string outputOfFatalCall(const std::function<void()>& call);

}  // namespace gltest
