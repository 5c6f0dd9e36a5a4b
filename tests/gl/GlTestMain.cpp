// Entry point of the GL tests: creates the shared context before running every test.
#include "GlTestContext.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/Application.h"

namespace {
GLFWwindow* sharedWindow = nullptr;
Application* sharedApplication = nullptr;

gltest::ExpectedGlErrors* expectedGlErrors = nullptr;

// Output is synchronous, so the failure lands on the test that made the failing call, inside that call.
void GLAPIENTRY failTestOnGlError(GLenum, GLenum type, GLuint, GLenum, GLsizei, const GLchar* message, const void*) {
    if (type != GL_DEBUG_TYPE_ERROR) return;
    if (expectedGlErrors) {
        ++expectedGlErrors->count;
        return;
    }
    ADD_FAILURE() << "GL error: " << message;
}

void reportGlErrorsAsTestFailures() {
    if (!glDebugMessageCallback) {
        std::fprintf(stderr, "GL tests run without GL error checks: the driver has no glDebugMessageCallback\n");
        return;
    }
    glEnable(GL_DEBUG_OUTPUT);
    glEnable(GL_DEBUG_OUTPUT_SYNCHRONOUS);
    glDebugMessageCallback(failTestOnGlError, nullptr);
}
}  // namespace

namespace gltest {

ExpectedGlErrors::ExpectedGlErrors() { expectedGlErrors = this; }
ExpectedGlErrors::~ExpectedGlErrors() { expectedGlErrors = nullptr; }

GLFWwindow* window() { return sharedWindow; }
Application& application() { return *sharedApplication; }

std::string dataFile(const std::string& relative) { return std::string(KELTA_DATA_DIR) + "/" + relative; }

std::vector<float> readPixels(int x, int y, int width, int height) {
    std::vector<float> pixels(static_cast<size_t>(width) * height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, width, height, GL_RGBA, GL_FLOAT, pixels.data());
    return pixels;
}

GLuint makeFloatTexture(int width, int height, const std::vector<float>& rgba) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, width, height, 0, GL_RGBA, GL_FLOAT, rgba.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    return texture;
}

std::string outputOfFatalCall(const std::function<void()>& call) {
    const std::string outputPath = ::testing::TempDir() + "fatal-output.txt";
    std::remove(outputPath.c_str());
    EXPECT_EXIT(
        {
            if (!std::freopen(outputPath.c_str(), "w", stdout)) std::abort();
            call();
        },
        ::testing::ExitedWithCode(1), "");
    std::ifstream stream(outputPath, std::ios::binary);
    std::stringstream content;
    content << stream.rdbuf();
    return content.str();
}

}  // namespace gltest

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // The driver runs threads of its own, so death tests re-run the binary instead of forking.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    if (!glfwInit()) {
        std::fprintf(stderr, "GL tests need a display (run them under xvfb-run)\n");
        return 1;
    }
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    glfwWindowHint(GLFW_OPENGL_DEBUG_CONTEXT, GLFW_TRUE);
    sharedWindow = glfwCreateWindow(800, 600, "KELTA tests", nullptr, nullptr);
    if (!sharedWindow) {
        std::fprintf(stderr, "GL tests could not create a window\n");
        return 1;
    }
    glfwMakeContextCurrent(sharedWindow);
    glewInit();
    reportGlErrorsAsTestFailures();

    sharedApplication = new Application();
    sharedApplication->window = sharedWindow;
    sharedApplication->samples = 4;
    Application::registerInstance(sharedApplication);

    const int result = RUN_ALL_TESTS();
    glfwTerminate();
    return result;
}
