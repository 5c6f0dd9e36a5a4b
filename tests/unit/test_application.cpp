// The process-wide instance accessor.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/Application.h"

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
