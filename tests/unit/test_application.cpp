// The process-wide instance accessor.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <csignal>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "app/Application.h"
#include "app/ContextVersion.h"
#include "io/Fatal.h"

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

TEST(FatalDeathTest, AnAllocationFailureNothingCatchesEndsInOneLineOnAnyThreadAndOtherExceptionsStillAbort) {
    const std::string outputPath = ::testing::TempDir() + "allocation-output.txt";
    struct Case {
        std::string label;
        bool onAnotherThread;
        bool allocationFailure;
    };
    const Case cases[] = {
        {"main thread", false, true}, {"another thread", true, true}, {"another exception", false, false}};
    for (const Case& c : cases) {
        const auto throwIt = [&c] {
            if (c.allocationFailure) throw std::bad_alloc();
            throw std::runtime_error("not about memory");
        };
        const auto run = [&] {
            if (!std::freopen(outputPath.c_str(), "w", stdout)) std::abort();
            reportUncaughtAllocationFailures();
            if (c.onAnotherThread) {
                std::thread(throwIt).join();
            } else {
                // Past a noexcept boundary, as past main, nothing catches it (not even the death test).
                [&throwIt]() noexcept { throwIt(); }();
            }
        };
        if (!c.allocationFailure) {
            EXPECT_EXIT(run(), ::testing::KilledBySignal(SIGABRT), "") << c.label;
            continue;
        }
        EXPECT_EXIT(run(), ::testing::ExitedWithCode(1), "") << c.label;
        std::ifstream stream(outputPath);
        std::stringstream content;
        content << stream.rdbuf();
        EXPECT_EQ(content.str(), "Not enough memory: an allocation failed (free some memory, or raise the limit: "
                                 "ulimit -v)\n")
            << c.label;
    }
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
