// The process-wide instance accessor.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/Application.h"
#include "app/ContextVersion.h"

#include <GL/glew.h>

TEST(ApplicationDeathTest, MissingInstanceEndsTheProcessWithoutALineEnd) {
    const std::string outputPath = ::testing::TempDir() + "instance-output.txt";
    Application::registerInstance(nullptr);
    EXPECT_EXIT(
        {
            if (!std::freopen(outputPath.c_str(), "w", stdout)) std::abort();
            Application::instance();
        },
        ::testing::ExitedWithCode(1), "");
    std::ifstream stream(outputPath);
    std::stringstream content;
    content << stream.rdbuf();
    EXPECT_EQ(content.str(), "Application not initialized.");
}

TEST(Application, RegisteredInstanceIsReturnedAndStartsEmpty) {
    Application application;
    Application::registerInstance(&application);
    EXPECT_EQ(&Application::instance(), &application);
    EXPECT_EQ(application.samples, 0);
    EXPECT_EQ(application.terrainMode, 0);
    EXPECT_EQ(application.projection[2][2], 1.0f);
    EXPECT_EQ(application.window, nullptr);
    Application::registerInstance(nullptr);
}

TEST(ContextVersion, GlewsMissingGlxDisplayIsLeftToTheVersionCheck) {
    const std::pair<GLenum, bool> cases[] = {{GLEW_OK, false},
                                             {GLEW_ERROR_NO_GLX_DISPLAY, false},
                                             {GLEW_ERROR_NO_GL_VERSION, true},
                                             {GLEW_ERROR_GL_VERSION_10_ONLY, true}};
    for (const auto& [result, failed] : cases) EXPECT_EQ(glewInitFailed(result), failed) << result;
}
