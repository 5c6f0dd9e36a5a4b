// kelta-bench's arithmetic: timing summaries, per-pass GPU times from timestamps, start-up phase
// sums and the camera path, without a GL context.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "tools/bench/BenchStatistics.h"
#include "tools/bench/CameraPath.h"

namespace {

// The pass sequence of one frame of the program: scene, resolve, twenty blur passes, final.
std::vector<FramePass> programPasses() {
    std::vector<FramePass> passes{FramePass::Scene, FramePass::Resolve};
    passes.insert(passes.end(), 20, FramePass::Blur);
    passes.push_back(FramePass::Final);
    return passes;
}

}  // namespace

TEST(BenchPercentile, InterpolatesBetweenTheNearestRanksOfUnsortedSamples) {
    EXPECT_EQ(summarize({7.0}).medianMs, 7.0);
    EXPECT_EQ(summarize({7.0}).p95Ms, 7.0);
    EXPECT_EQ(summarize({3.0, 1.0, 2.0}).medianMs, 2.0);
    EXPECT_EQ(summarize({4.0, 1.0, 3.0, 2.0}).medianMs, 2.5) << "an even count takes the mean of the middle two";
    // Ranks 0..19 hold 1..20: the 95th percentile lies at rank 18.05.
    std::vector<double> twenty;
    for (int i = 20; i >= 1; --i) twenty.push_back(i);
    EXPECT_DOUBLE_EQ(summarize(twenty).p95Ms, 19.05);
    EXPECT_DOUBLE_EQ(summarize(twenty).p99Ms, 19.81);
}

TEST(BenchPercentile, SummaryAndFramesPerSecond) {
    const TimingSummary empty = summarize({});
    EXPECT_EQ(empty.count, 0u);

    // One slow frame in twenty moves the 95th percentile, not the median.
    std::vector<double> frames(19, 10.0);
    frames.push_back(110.0);
    const TimingSummary summary = summarize(frames);
    EXPECT_EQ(summary.count, 20u);
    EXPECT_EQ(summary.medianMs, 10.0);
    EXPECT_NEAR(summary.p95Ms, 15.0, 1e-9);

    EXPECT_DOUBLE_EQ(framesPerSecond(16.0), 62.5);
    EXPECT_EQ(framesPerSecond(0.0), 0.0);
    EXPECT_EQ(framesPerSecond(-1.0), 0.0);
}

TEST(BenchGpuTimes, ChargesEachPassWithTheTimeSinceTheStampBeforeIt) {
    const std::vector<FramePass> passes = programPasses();
    // A GL clock far from zero: the differences must still come out to the nanosecond.
    const uint64_t origin = 9'000'000'000'000'000'000ull;
    std::vector<uint64_t> stamps{origin};
    auto advance = [&](uint64_t ns) { stamps.push_back(stamps.back() + ns); };
    advance(5'000'001);  // scene
    advance(250'000);    // resolve
    for (int pass = 0; pass < 20; ++pass) advance(100'000 + 1'000 * static_cast<uint64_t>(pass));
    advance(400'000);  // final

    FrameGpuTimes times;
    ASSERT_TRUE(frameGpuTimes(passes, stamps, times));
    EXPECT_DOUBLE_EQ(times.sceneMs, 5.000001);
    EXPECT_DOUBLE_EQ(times.resolveMs, 0.25);
    ASSERT_EQ(times.blurPassMs.size(), 20u);
    EXPECT_DOUBLE_EQ(times.blurPassMs[0], 0.1);
    EXPECT_DOUBLE_EQ(times.blurPassMs[19], 0.119);
    EXPECT_NEAR(times.blurMs, 2.19, 1e-12);
    EXPECT_DOUBLE_EQ(times.finalMs, 0.4);
    EXPECT_NEAR(times.totalMs, 7.840001, 1e-12);

    stamps.pop_back();
    EXPECT_FALSE(frameGpuTimes(passes, stamps, times)) << "one stamp short";
    EXPECT_FALSE(frameGpuTimes({}, {}, times)) << "no start stamp";
}

TEST(BenchStartupPhases, RepeatedPhasesSumInThePlaceOfTheirFirstMark) {
    StartupPhaseLog log(100.0);
    log.mark("window and context", 100.5);
    log.mark("shader builds", 101.0);
    log.mark("sky", 101.25);
    log.mark("shader builds", 102.0);
    log.add("first frame", 30.0);

    const std::vector<StartupPhaseLog::Phase>& phases = log.phases();
    ASSERT_EQ(phases.size(), 4u);
    EXPECT_EQ(phases[0].name, "window and context");
    EXPECT_DOUBLE_EQ(phases[0].ms, 500.0);
    EXPECT_EQ(phases[1].name, "shader builds");
    EXPECT_DOUBLE_EQ(phases[1].ms, 500.0 + 750.0);
    EXPECT_EQ(phases[2].name, "sky");
    EXPECT_DOUBLE_EQ(phases[2].ms, 250.0);
    EXPECT_EQ(phases[3].name, "first frame");
    EXPECT_DOUBLE_EQ(log.totalMs(), 2030.0);
}

TEST(BenchCameraPath, StartsAtTheStartPoseThenClimbsAndSwings) {
    const float inverseRootTwo = 1.0f / sqrtSingle(2.0f);
    const CameraPose start{vec3{0.0f, 20.0f, 0.0f}, vec3{inverseRootTwo, 0.0f, -inverseRootTwo}};

    const CameraPose first = cameraPathPose(start, 0.0);
    EXPECT_EQ(first.position.y, 20.0f);
    EXPECT_EQ(first.direction.x, start.direction.x) << "the first frame is the program's first frame";
    EXPECT_EQ(first.direction.z, start.direction.z);

    // A quarter period in, the view has swung its full 22.5 degrees; the eye has climbed 1.25.
    const CameraPose quarter = cameraPathPose(start, 2.5);
    EXPECT_FLOAT_EQ(quarter.position.y, 21.25f);
    EXPECT_EQ(quarter.direction.y, 0.0f);
    EXPECT_NEAR(length(quarter.direction), 1.0f, 1e-6f);
    EXPECT_NEAR(std::acos(dot(quarter.direction, start.direction)), PATH_SWING_RADIANS, 1e-5);
    EXPECT_NEAR(cameraPathPose(start, 10.0).direction.x, start.direction.x, 1e-6f) << "one period swings back";
}
