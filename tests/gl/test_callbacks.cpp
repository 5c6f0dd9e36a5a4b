// The window callbacks acting on the shared application state.
#include <gtest/gtest.h>

#include <cmath>

#include "GlTestContext.h"
#include "app/Application.h"
#include "app/Callbacks.h"
#include "math/Camera.h"
#include "post/Framebuffer.h"

namespace {

// Gives the shared application the three render targets the size callback resizes.
class SizeCallback : public ::testing::Test {
protected:
    void SetUp() override {
        Application& app = gltest::application();
        app.mainFramebuffer = std::make_unique<Framebuffer>(2, true);
        app.blurFramebufferA = std::make_unique<Framebuffer>(1, false);
        app.blurFramebufferB = std::make_unique<Framebuffer>(1, false);
    }
    void TearDown() override {
        Application& app = gltest::application();
        app.mainFramebuffer.reset();
        app.blurFramebufferA.reset();
        app.blurFramebufferB.reset();
    }
};

}  // namespace

TEST_F(SizeCallback, ProjectionAndTargetsFollowTheFramebufferSize) {
    Application& app = gltest::application();
    framebufferSizeCallback(gltest::window(), 800, 600);
    EXPECT_FLOAT_EQ(app.projection[0][0], 1.6083802f);
    EXPECT_FLOAT_EQ(app.projection[1][1], 2.1445069f);
    EXPECT_EQ(app.projection[2][2], -1.0000334f);
    EXPECT_EQ(app.projection[2][3], -1.0f);
    EXPECT_EQ(app.projection[3][2], -0.020000333f);
    EXPECT_EQ(app.projection[3][3], 0.0f);

    framebufferSizeCallback(gltest::window(), 1023, 767);
    const float t = static_cast<float>(std::tan(static_cast<double>(0.43633232f)));
    EXPECT_EQ(app.projection[0][0], 1.0f / ((1023.0f / 767.0f) * t));
    EXPECT_EQ(app.mainFramebuffer->width, 1023);
    EXPECT_EQ(app.mainFramebuffer->height, 767);
    EXPECT_EQ(app.blurFramebufferA->width, 255);
    EXPECT_EQ(app.blurFramebufferB->height, 191);
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 1023);
    EXPECT_EQ(viewport[3], 767);
}

TEST_F(SizeCallback, MinimisedAndTinyWindowsKeepRunning) {
    Application& app = gltest::application();
    framebufferSizeCallback(gltest::window(), 640, 480);
    const mat4 before = app.projection;

    framebufferSizeCallback(gltest::window(), 0, 0);
    EXPECT_EQ(app.projection[0][0], before[0][0]);
    EXPECT_EQ(app.mainFramebuffer->width, 640);

    framebufferSizeCallback(gltest::window(), 2, 2);
    EXPECT_EQ(app.mainFramebuffer->width, 2);
    EXPECT_EQ(app.blurFramebufferA->width, 1);
    EXPECT_EQ(app.blurFramebufferB->height, 1);
}

TEST(KeyCallback, MTogglesMouseLookWithTheCursorModeOnPressOnly) {
    Application& app = gltest::application();
    app.camera = std::make_unique<Camera>(0.0, 0.0);
    const Camera& camera = *app.camera;
    GLFWwindow* window = gltest::window();
    glfwSetInputMode(window, GLFW_CURSOR, GLFW_CURSOR_DISABLED);

    keyCallback(window, GLFW_KEY_M, 0, GLFW_PRESS, 0);
    EXPECT_FALSE(camera.isMouseLookEnabled);
    EXPECT_EQ(glfwGetInputMode(window, GLFW_CURSOR), GLFW_CURSOR_NORMAL);
    keyCallback(window, GLFW_KEY_M, 0, GLFW_REPEAT, 0);
    keyCallback(window, GLFW_KEY_M, 0, GLFW_RELEASE, 0);
    EXPECT_FALSE(camera.isMouseLookEnabled);

    keyCallback(window, GLFW_KEY_M, 0, GLFW_PRESS, 0);
    EXPECT_TRUE(camera.isMouseLookEnabled);
    EXPECT_EQ(glfwGetInputMode(window, GLFW_CURSOR), GLFW_CURSOR_DISABLED);
    app.camera.reset();
}

TEST(KeyCallback, EscapeSetsTheCloseFlagOnPressOnly) {
    GLFWwindow* window = gltest::window();
    keyCallback(window, GLFW_KEY_ESCAPE, 0, GLFW_RELEASE, 0);
    EXPECT_FALSE(glfwWindowShouldClose(window));
    keyCallback(window, GLFW_KEY_ESCAPE, 0, GLFW_PRESS, 0);
    EXPECT_TRUE(glfwWindowShouldClose(window));
    glfwSetWindowShouldClose(window, 0);
}
