// What the panel works out of the facts it shows.
#include <gtest/gtest.h>

#include "ui/PanelFacts.h"

namespace {

// Fault caught: a bar longer than its room, a length that is not 1, 2 or 5 times a power of ten,
// or a bar for an unknown scale (a view of the sky).
TEST(ScaleBar, IsTheLongestRoundLengthThatFits) {
    struct Case {
        double groundPerPixel;
        double longestPixels;
        bool shown;
        double length;
    } cases[] = {
        {1.0, 150.0, true, 100.0},   {3.0, 150.0, true, 200.0}, {0.004, 150.0, true, 0.5},
        {70.0, 150.0, true, 10000.0}, {1.0, 100.0, true, 100.0}, {0.0, 150.0, false, 0.0},
        {-2.0, 150.0, false, 0.0},   {1.0 / 0.0, 150.0, false, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.groundPerPixel);
        double length = 0.0, pixels = 0.0;
        ASSERT_EQ(chooseScaleBar(c.groundPerPixel, c.longestPixels, length, pixels), c.shown);
        if (!c.shown) continue;
        EXPECT_DOUBLE_EQ(length, c.length);
        EXPECT_LE(pixels, c.longestPixels + 1e-9);
        EXPECT_NEAR(pixels * c.groundPerPixel, length, 1e-9 * length);
    }
}

// Fault caught: kilometres shown as metres past 1000 m, or grid units given a metric name.
TEST(ScaleBar, LengthsAreWrittenInTheirUnits) {
    EXPECT_EQ(formatLength(12.3, true), "12.3 m");
    EXPECT_EQ(formatLength(4560.0, true), "4.56 km");
    EXPECT_EQ(formatLength(-1500.0, true), "-1.5 km");
    EXPECT_EQ(formatLength(20.0, false), "20 units");
}

}  // namespace

namespace {

ProfileSample sampleAt(double distance, std::optional<double> elevation) {
    ProfileSample sample;
    sample.distance = distance;
    sample.elevation = elevation;
    return sample;
}

// Fault caught: a plot that puts unevenly spaced samples at even steps (a leg ending between
// steps bends the slope), that drops into a void, or that reads past the last sample.
TEST(ProfilePlot, ElevationsAtEvenStepsOfDistance) {
    const std::optional<double> none;
    const struct {
        const char* name;
        std::vector<ProfileSample> profile;
        int count;
        std::vector<float> expected;
    } cases[] = {
        {"a slope sampled unevenly", {sampleAt(0, 0.0), sampleAt(1, 10.0), sampleAt(4, 40.0)}, 5, {0, 10, 20, 30, 40}},
        {"a void keeps the last elevation", {sampleAt(0, 5.0), sampleAt(1, none), sampleAt(2, 9.0)}, 3, {5, 5, 9}},
        {"a void at the start takes the first known", {sampleAt(0, none), sampleAt(2, 4.0)}, 2, {4, 4}},
        {"no length", {sampleAt(0, 1.0), sampleAt(0, 2.0)}, 4, {}},
        {"one point", {sampleAt(0, 1.0)}, 4, {}},
    };
    for (const auto& c : cases) {
        const std::vector<float> even = evenProfile(c.profile, c.count);
        ASSERT_EQ(even.size(), c.expected.size()) << c.name;
        for (size_t k = 0; k < even.size(); ++k) EXPECT_FLOAT_EQ(even[k], c.expected[k]) << c.name << " at " << k;
    }
}

}  // namespace
