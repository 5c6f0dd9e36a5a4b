// The window callbacks acting on the shared application state.
#include <gtest/gtest.h>

#include <cmath>

#include "GlTestContext.h"
#include "app/Application.h"
#include "app/Callbacks.h"
#include "math/Camera.h"
#include "post/Framebuffer.h"
#include "ui/Panel.h"
#include "ui/PathMeasuring.h"

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

// Fault caught: hiding the panel leaves mouse-look as the panel set it rather than as it was, or M
// captures the cursor under a shown panel.
TEST(KeyCallback, F1ShowsThePanelWithAFreeCursorAndHidingRestoresMouseLook) {
    Application& app = gltest::application();
    GLFWwindow* window = gltest::window();
    for (const bool lookingBefore : {true, false}) {
        SCOPED_TRACE(lookingBefore ? "mouse-look on" : "mouse-look off");
        app.camera = std::make_unique<Camera>(0.0, 0.0);
        Camera& camera = *app.camera;
        camera.isMouseLookEnabled = lookingBefore;
        glfwSetInputMode(window, GLFW_CURSOR, lookingBefore ? GLFW_CURSOR_DISABLED : GLFW_CURSOR_NORMAL);

        keyCallback(window, GLFW_KEY_F1, 0, GLFW_PRESS, 0);
        ASSERT_TRUE(app.isPanelShown);
        EXPECT_FALSE(camera.isMouseLookEnabled);
        EXPECT_EQ(glfwGetInputMode(window, GLFW_CURSOR), GLFW_CURSOR_NORMAL);
        keyCallback(window, GLFW_KEY_M, 0, GLFW_PRESS, 0);
        EXPECT_FALSE(camera.isMouseLookEnabled);
        keyCallback(window, GLFW_KEY_F1, 0, GLFW_RELEASE, 0);
        EXPECT_TRUE(app.isPanelShown);

        keyCallback(window, GLFW_KEY_F1, 0, GLFW_PRESS, 0);
        EXPECT_FALSE(app.isPanelShown);
        EXPECT_EQ(camera.isMouseLookEnabled, lookingBefore);
        EXPECT_EQ(glfwGetInputMode(window, GLFW_CURSOR), lookingBefore ? GLFW_CURSOR_DISABLED : GLFW_CURSOR_NORMAL);
    }
    app.panel.reset();
    app.camera.reset();
}

// Fault caught: the panel drawing over the whole target (a cleared or blended background), or
// leaving GL state that the next frame's passes inherit.
TEST(Panel, DrawsOnlyItsOwnRectangleOverTheFinalPicture) {
    GLFWwindow* window = gltest::window();
    Panel panel(window);
    PanelFacts facts;
    facts.map.fileName = "cone.tif";
    facts.cursor.onMap = true;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glViewport(0, 0, 800, 600);
    glClearColor(0.25f, 0.5f, 0.75f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    ViewSettings settings;
    PathMeasuring path;
    bool measureMode = false;
    // A window that fits its contents is measured in its first frame and shown from the second.
    panel.draw(facts, settings, path, measureMode);
    panel.draw(facts, settings, path, measureMode);
    glReadBuffer(GL_BACK);
    // The panel sits at the top left; the right half of the picture is the picture.
    const std::vector<float> right = gltest::readPixels(500, 0, 300, 600);
    for (size_t k = 0; k < right.size(); k += 4) {
        ASSERT_NEAR(right[k + 2], 0.75f, 1e-3f) << "texel " << k / 4;
    }
    const std::vector<float> corner = gltest::readPixels(20, 540, 100, 40);
    size_t changed = 0;
    for (size_t k = 0; k < corner.size(); k += 4) changed += std::fabs(corner[k + 2] - 0.75f) > 0.05f;
    EXPECT_GT(changed, corner.size() / 4 / 4);
    EXPECT_FALSE(glIsEnabled(GL_SCISSOR_TEST));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
}
