// The GL error check itself: errors fail the running test unless the test declared them.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "GlTestContext.h"

namespace {

// No capability is called GL_RGBA, on any driver.
void provokeGlError() { glEnable(GL_RGBA); }

}  // namespace

TEST(GlErrorCheck, ErrorFailsTheRunningTestUnlessExpected) {
    {
        gltest::ExpectedGlErrors expected;
        provokeGlError();
        EXPECT_EQ(expected.count, 1);
    }
    EXPECT_NONFATAL_FAILURE(provokeGlError(), "GL error: GL_INVALID_ENUM");
}
