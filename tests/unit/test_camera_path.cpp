// Camera paths: the eye's curve, the view's turn, the settings' ramps, constant speed, the file
// format and the recorder's thinning.
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "math/Camera.h"
#include "show/CameraPath.h"
#include "show/PathRecorder.h"
#include "tests/TempFolder.h"

namespace {

PathKeyframe key(double seconds, vec3 position, vec3 direction = {0.0f, 0.0f, -1.0f}) {
    return PathKeyframe{seconds, position, normalize(direction), {}};
}

float distance(const vec3& a, const vec3& b) { return length(a - b); }

struct CurveCase {
    const char* name;
    std::vector<PathKeyframe> keyframes;
};

const std::vector<CurveCase>& curveCases() {
    static const std::vector<CurveCase> cases = {
        {"single keyframe", {key(1, {3, 4, 5})}},
        {"two keyframes", {key(0, {0, 0, 0}), key(2, {10, 4, -6}, {1, 0, 0})}},
        {"collinear, uneven in space and time",
         {key(0, {0, 10, 0}), key(1, {1, 10, 0}), key(1.5f, {20, 10, 0}), key(5, {21, 10, 0})}},
        {"zig-zag", {key(0, {0, 0, 0}), key(1, {1, 5, 0}), key(2, {2, 0, 0}), key(3, {3, 5, 0}), key(4, {4, 0, 0})}},
        {"zig-zag, uneven",
         {key(0, {0, 0, 0}), key(0.2, {1, 5, 0}, {1, 0, 0}), key(3, {30, 0, -2}, {0, -1, -1}), key(3.5, {31, 5, -2}),
          key(9, {32, -4, 40}, {-1, 0.3f, 0})}},
        {"standing still, then moving", {key(0, {5, 5, 5}), key(1, {5, 5, 5}, {1, 0, 0}), key(2, {9, 5, 5})}},
    };
    return cases;
}

TEST(CameraPathTest, TheEyePassesThroughEveryKeyframeAndNeverLeavesTheBoxOfTwoNeighbours) {
    for (const CurveCase& c : curveCases()) {
        const CameraPath path(c.keyframes);
        const std::vector<PathKeyframe>& frames = path.keyframes();
        for (const PathKeyframe& frame : frames) {
            const PathPose pose = path.poseAt(frame.seconds);
            EXPECT_LT(distance(pose.position, frame.position), 1e-4f) << c.name << " at " << frame.seconds;
            EXPECT_LT(distance(pose.direction, frame.direction), 1e-5f) << c.name << " at " << frame.seconds;
        }
        // Held before the first and after the last.
        EXPECT_LT(distance(path.poseAt(frames.front().seconds - 1).position, frames.front().position), 1e-6f) << c.name;
        EXPECT_LT(distance(path.poseAt(frames.back().seconds + 1).position, frames.back().position), 1e-6f) << c.name;
        for (std::size_t i = 0; i + 1 < frames.size(); ++i) {
            const vec3 &a = frames[i].position, &b = frames[i + 1].position;
            for (int step = 1; step < 100; ++step) {
                const double seconds = frames[i].seconds + (frames[i + 1].seconds - frames[i].seconds) * step / 100.0;
                const vec3 p = path.poseAt(seconds).position;
                for (int axis = 0; axis < 3; ++axis) {
                    const float low = std::min((&a.x)[axis], (&b.x)[axis]), high = std::max((&a.x)[axis], (&b.x)[axis]);
                    EXPECT_GE((&p.x)[axis], low - 1e-4f) << c.name << ", axis " << axis << " at " << seconds;
                    EXPECT_LE((&p.x)[axis], high + 1e-4f) << c.name << ", axis " << axis << " at " << seconds;
                }
            }
        }
    }
}

TEST(CameraPathTest, TheEyeMovesWithoutJerksAndStartsAndEndsAtRest) {
    // The velocity just before and just after each inner keyframe (one-sided differences of the
    // second order): a time mapping made segment by segment would change speed there.
    for (const CurveCase& c : curveCases()) {
        const CameraPath path(c.keyframes);
        const std::vector<PathKeyframe>& frames = path.keyframes();
        if (frames.size() < 2) continue;
        const double dt = 1e-3;
        const auto velocity = [&](double at, double side) {
            const vec3 p0 = path.poseAt(at).position, p1 = path.poseAt(at + side * dt).position,
                       p2 = path.poseAt(at + 2 * side * dt).position;
            return (p1 * 4.0f - p0 * 3.0f - p2) * float(side / (2 * dt));
        };
        for (std::size_t i = 1; i + 1 < frames.size(); ++i) {
            const vec3 before = velocity(frames[i].seconds, -1), after = velocity(frames[i].seconds, +1);
            EXPECT_LT(distance(before, after), 0.03f * std::max(1.0f, length(before))) << c.name << " at keyframe " << i;
        }
        EXPECT_LT(length(velocity(frames.front().seconds, +1)), 0.05f) << c.name;
        EXPECT_LT(length(velocity(frames.back().seconds, -1)), 0.05f) << c.name;
    }
}

TEST(CameraPathTest, TwoKeyframesGiveAStraightLine) {
    const CameraPath path({key(0, {0, 0, 0}), key(3, {9, 3, -6})});
    for (int step = 0; step <= 30; ++step) {
        const vec3 p = path.poseAt(step * 0.1).position;
        const vec3 along = normalize(vec3{9, 3, -6});
        EXPECT_LT(length(p - along * dot(p, along)), 1e-4f) << step;
    }
}

TEST(CameraPathTest, TheViewTurnsTheShortWayAndStaysOffTheVertical) {
    struct Case {
        const char* name;
        vec3 from, to, halfway;
    };
    // Halfway from 45 degrees down to the lowest the camera looks.
    const float HALFWAY_DOWN = 0.5f * (0.7853982f + (1.5707963f - Camera::MIN_POLAR_ANGLE));
    const Case cases[] = {
        {"north to east", {0, 0, -1}, {1, 0, 0}, normalize(vec3{1, 0, -1})},
        // Headings 170 and 190 degrees from north: through south, not round through north.
        {"across south", {0.17365f, 0, 0.98481f}, {-0.17365f, 0, 0.98481f}, {0, 0, 1}},
        // Straight down is kept off the vertical, as the camera keeps it.
        {"down to straight down", {0, -1, -1}, {0, -1, 0}, {0, -std::sin(HALFWAY_DOWN), -std::cos(HALFWAY_DOWN)}},
    };
    for (const Case& c : cases) {
        const CameraPath path({key(0, {0, 0, 0}, c.from), key(1, {0, 0, 0}, c.to)});
        EXPECT_LT(distance(path.poseAt(0.5).direction, c.halfway), 1e-4f) << c.name;
        for (int step = 0; step <= 20; ++step) {
            const vec3 d = path.poseAt(step / 20.0).direction;
            EXPECT_NEAR(length(d), 1.0f, 1e-5f) << c.name;
            EXPECT_LE(std::abs(d.y), std::cos(Camera::MIN_POLAR_ANGLE) + 1e-6f) << c.name;
        }
    }
}

TEST(CameraPathTest, SettingsChangeLinearlyBetweenTheKeyframesThatSetThemAndHoldBeyond) {
    std::vector<PathKeyframe> frames = {key(0, {0, 0, 0}), key(1, {1, 0, 0}), key(2, {2, 0, 0}), key(4, {3, 0, 0})};
    frames[1].settings.exaggeration = 2.0;
    frames[3].settings.exaggeration = 4.0;
    frames[0].settings.sunTime = ZonedTime{1000, 120};
    frames[2].settings.sunTime = ZonedTime{1000 + 7200, 60};
    const CameraPath path(frames);
    struct Case {
        double seconds, exaggeration;
        std::int64_t sunSeconds;
    };
    for (const Case& c : {Case{-1, 2, 1000}, Case{0.5, 2, 1000 + 1800}, Case{2.5, 3, 8200}, Case{9, 4, 8200}}) {
        const PathPose pose = path.poseAt(c.seconds);
        EXPECT_DOUBLE_EQ(*pose.settings.exaggeration, c.exaggeration) << c.seconds;
        EXPECT_EQ(pose.settings.sunTime->utcSeconds, c.sunSeconds) << c.seconds;
    }
    EXPECT_FALSE(CameraPath({key(0, {0, 0, 0}), key(1, {1, 0, 0})}).poseAt(0.5).settings.exaggeration);
}

TEST(CameraPathTest, ConstantSpeedCoversEqualDistancesInEqualTimesOverTheSameCurve) {
    std::vector<PathKeyframe> frames = {key(0, {0, 0, 0}), key(0.5, {10, 0, 0}), key(1, {10, 5, 0}),
                                        key(6, {12, 5, 0}), key(7, {12, 5, 0}, {1, 0, 0}), key(8, {40, 9, 3})};
    frames[3].settings.exaggeration = 3.0;
    const CameraPath path = CameraPath(frames).withConstantSpeed();
    ASSERT_DOUBLE_EQ(path.durationSeconds(), 8.0);
    // The standing segment keeps its second; the keyframes keep their places on the curve.
    const std::vector<PathKeyframe>& retimed = path.keyframes();
    EXPECT_NEAR(retimed[4].seconds - retimed[3].seconds, 1.0, 1e-9);
    EXPECT_DOUBLE_EQ(*path.poseAt(retimed[3].seconds).settings.exaggeration, 3.0);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_LT(distance(path.poseAt(retimed[i].seconds).position, frames[i].position), 1e-3f) << i;
    }
    // The way covered in each fortieth of the time, measured along the curve in fine steps, since
    // the eye turns sharply at a keyframe where it turns back or turns square.
    const auto wayOver = [&](double from, double to) {
        float way = 0.0f;
        for (int k = 0; k < 40; ++k) {
            way += distance(path.poseAt(from + (to - from) * k / 40).position, path.poseAt(from + (to - from) * (k + 1) / 40).position);
        }
        return way;
    };
    const float speed = wayOver(0.0, 0.1) / 0.1f;
    for (const auto& [from, to] : {std::pair{0.0, retimed[3].seconds}, std::pair{retimed[4].seconds, 8.0}}) {
        for (int k = 0; k < 40; ++k) {
            const double start = from + (to - from) * k / 40, end = from + (to - from) * (k + 1) / 40;
            EXPECT_NEAR(wayOver(start, end) / float(end - start), speed, 0.01f * speed) << start;
        }
    }
}

TEST(CameraPathTest, AFlightBetweenTwoPosesEasesInAndOut) {
    const PathPose from{{0, 0, 0}, {0, 0, -1}, {}};
    const PathPose to{{10, 0, 0}, {1, 0, 0}, {}};
    const CameraPath flight = CameraPath::between(from, to, 0.5);
    EXPECT_DOUBLE_EQ(flight.durationSeconds(), 0.5);
    EXPECT_LT(distance(flight.poseAt(0.25).position, {5, 0, 0}), 1e-4f);
    // Smoothstep: a tenth of the time covers 2.8% of the way.
    EXPECT_NEAR(flight.poseAt(0.05).position.x, 0.28f, 1e-3f);
    EXPECT_LT(distance(CameraPath::between(from, to, 0).poseAt(0).position, to.position), 1e-6f);
}

TEST(CameraPathFileTest, AWrittenPathReadsBackToTheSameKeyframes) {
    std::vector<PathKeyframe> frames = {key(0, {0.1f, 20, -3.25f}, {0.3f, -0.2f, -1}), key(2.5, {1e6f, -4, 7})};
    frames[0].settings.sunTime = parseZonedTime("2026-06-21T08:00:30+02:00");
    frames[1].settings.exaggeration = 2.5;
    const CameraPath path(frames);
    const std::string text = cameraPathJson(path);
    EXPECT_NE(text.find("[0.1,20.0,-3.25]"), std::string::npos) << text;
    std::optional<CameraPath> read;
    std::string error;
    ASSERT_TRUE(parseCameraPath(text, read, error)) << error;
    ASSERT_EQ(read->keyframes().size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const PathKeyframe &a = path.keyframes()[i], &b = read->keyframes()[i];
        EXPECT_EQ(a.seconds, b.seconds);
        EXPECT_EQ(distance(a.position, b.position), 0.0f);
        EXPECT_EQ(distance(a.direction, b.direction), 0.0f);
        EXPECT_EQ(a.settings.exaggeration, b.settings.exaggeration);
        EXPECT_EQ(a.settings.sunTime.has_value(), b.settings.sunTime.has_value());
    }
    EXPECT_EQ(read->keyframes()[0].settings.sunTime->utcSeconds, frames[0].settings.sunTime->utcSeconds);
    EXPECT_EQ(read->keyframes()[0].settings.sunTime->offsetMinutes, 120);
    // A point to look at stands for the direction.
    ASSERT_TRUE(parseCameraPath(R"({"keyframes":[{"time":0,"position":[1,2,3],"lookAt":[1,2,-7]}]})", read, error));
    EXPECT_LT(distance(read->keyframes()[0].direction, {0, 0, -1}), 1e-7f);
}

TEST(CameraPathFileTest, AFaultIsNamedWithItsKeyframe) {
    const std::string good = R"({"time":0,"position":[0,0,0],"direction":[0,0,-1]})";
    const struct {
        std::string json, error;
    } cases[] = {
        {"{\"keyframes\": [", "not JSON: parse error at line 1, column 16: syntax error while parsing value"},
        {"[]", "expected an object with a \"keyframes\" list"},
        {R"({"keyframe":[]})", "unknown field \"keyframe\" (a path holds \"keyframes\")"},
        {R"({"keyframes":[]})", "a path needs a \"keyframes\" list of at least one keyframe"},
        {R"({"keyframes":[3]})", "keyframe 1: expected an object with \"time\", \"position\" and \"direction\""},
        {R"({"keyframes":[{"time":0,"postion":[0,0,0],"direction":[0,0,-1]}]})", "keyframe 1: unknown field \"postion\""},
        {R"({"keyframes":[{"position":[0,0,0],"direction":[0,0,-1]}]})", "keyframe 1: no \"time\""},
        {R"({"keyframes":[{"time":-1,"position":[0,0,0],"direction":[0,0,-1]}]})",
         "keyframe 1: \"time\" must be a number of seconds, 0 or more"},
        {"{\"keyframes\":[" + good + "," + good + "]}", "keyframe 2: time must be later than keyframe 1's (0 s)"},
        {R"({"keyframes":[{"time":0,"position":[0,"1",0],"direction":[0,0,-1]}]})",
         "keyframe 1: \"position\" must be three numbers [x, y, z]"},
        {R"({"keyframes":[{"time":0,"position":[0,0,1e39],"direction":[0,0,-1]}]})",
         "keyframe 1: \"position\" must be three numbers [x, y, z]"},
        {R"({"keyframes":[{"time":0,"position":[0,0,0]}]})", "keyframe 1: no \"direction\" or \"lookAt\""},
        {R"({"keyframes":[{"time":0,"position":[0,0,0],"direction":[0,0,0]}]})", "keyframe 1: \"direction\" must not be zero"},
        {R"({"keyframes":[{"time":0,"position":[1,1,1],"lookAt":[1,1,1]}]})", "keyframe 1: \"lookAt\" is the position itself"},
        {R"({"keyframes":[{"time":0,"position":[0,0,0],"direction":[0,0,-1],"lookAt":[1,1,1]}]})",
         "keyframe 1: \"direction\" and \"lookAt\" both given; one says where to look"},
        {R"({"keyframes":[{"time":0,"position":[0,0,0],"direction":[0,0,-1],"sunTime":"2026-06-21T08:00"}]})",
         "keyframe 1: \"sunTime\" must be a time with its zone, such as \"2026-06-21T08:00+02:00\""},
        {R"({"keyframes":[{"time":0,"position":[0,0,0],"direction":[0,0,-1],"exaggeration":0}]})",
         "keyframe 1: \"exaggeration\" must be a number above 0 and at most 1000"},
    };
    for (const auto& c : cases) {
        std::optional<CameraPath> path;
        std::string error;
        EXPECT_FALSE(parseCameraPath(c.json, path, error)) << c.json;
        EXPECT_EQ(error.substr(0, c.error.size()), c.error) << c.json;
        EXPECT_FALSE(path) << c.json;
    }
}

TEST(CameraPathFileTest, AFileThatCannotBeReadIsNamed) {
    TempFolder folder;
    std::optional<CameraPath> path;
    std::string error;
    EXPECT_FALSE(readCameraPath((folder / "none.json"), path, error));
    EXPECT_EQ(error, (folder / "none.json") + ": No such file or directory");
    EXPECT_FALSE(readCameraPath(folder.path.string(), path, error));
    EXPECT_EQ(error, folder.path.string() + ": is a folder, not a camera path file");
    std::ofstream((folder / "bad.json")) << "{\"keyframes\": []}";
    EXPECT_FALSE(readCameraPath((folder / "bad.json"), path, error));
    EXPECT_EQ(error, (folder / "bad.json") + ": a path needs a \"keyframes\" list of at least one keyframe");
}

TEST(PathRecorderTest, KeepsAPoseEachIntervalTheLastOneAndTheEndsOfAStillness) {
    PathRecorder recorder(100.0);
    // Sixty frames a second: moving for half a second, standing for one, then a last frame.
    for (int frame = 0; frame <= 90; ++frame) {
        const float x = frame <= 30 ? float(frame) : 30.0f;
        recorder.add(100.0 + frame / 60.0, {x, 0, 0}, {0, 0, -1});
    }
    recorder.add(101.52, {31, 0, 0}, {0, 0, -1});
    const std::vector<PathKeyframe> poses = recorder.path().keyframes();
    ASSERT_GE(poses.size(), 4u);
    EXPECT_EQ(poses.front().seconds, 0.0);
    EXPECT_EQ(poses.back().seconds, 1.52);
    EXPECT_EQ(poses.back().position.x, 31.0f);
    for (std::size_t i = 1; i + 1 < poses.size(); ++i) {
        EXPECT_GE(poses[i].seconds - poses[i - 1].seconds, 0.9 * PathRecorder::POSE_INTERVAL_SECONDS) << i;
    }
    // Half a second of motion at 30 poses a second (its last the stillness' first), the stillness'
    // last and the final pose.
    EXPECT_EQ(poses.size(), 16u + 1u + 1u);
}

TEST(PathRecorderTest, ANameTakenGetsANumber) {
    TempFolder folder;
    const std::string before = std::filesystem::current_path();
    std::filesystem::current_path(folder.path);
    std::tm noon{};
    noon.tm_year = 2026 - 1900, noon.tm_mon = 11, noon.tm_mday = 9, noon.tm_hour = 14, noon.tm_min = 3, noon.tm_sec = 22;
    noon.tm_isdst = -1;
    const std::time_t when = std::mktime(&noon);
    EXPECT_EQ(recordingFileName(when), "kelta-path-2026-12-09-14-03-22.json");
    std::ofstream("kelta-path-2026-12-09-14-03-22.json") << "mine";
    EXPECT_EQ(recordingFileName(when), "kelta-path-2026-12-09-14-03-22-2.json");
    std::filesystem::current_path(before);
}

}  // namespace
