// Thinning a recorded flight and naming its file.
#include "show/PathRecorder.h"

#include <cmath>
#include <filesystem>

namespace {

bool samePose(const PathKeyframe& a, const PathKeyframe& b) {
    return a.position.x == b.position.x && a.position.y == b.position.y && a.position.z == b.position.z &&
           a.direction.x == b.direction.x && a.direction.y == b.direction.y && a.direction.z == b.direction.z;
}

}  // namespace

PathRecorder::PathRecorder(double startSeconds) : startSeconds(startSeconds) {}

void PathRecorder::add(double nowSeconds, const vec3& position, const vec3& direction) {
    // Whole milliseconds keep the file short to read; poses lie far more apart than that.
    const PathKeyframe pose{std::round((nowSeconds - startSeconds) * 1000.0) / 1000.0, position, direction, {}};
    // Frames come a little early or late: one a tenth of the interval early still counts, so that
    // sixty frames a second keep every other one.
    if (!poses.empty() && pose.seconds - poses.back().seconds < 0.9 * POSE_INTERVAL_SECONDS) {
        latest = pose;
        return;
    }
    latest.reset();
    const std::size_t count = poses.size();
    if (count >= 2 && samePose(poses[count - 1], pose) && samePose(poses[count - 2], pose)) {
        poses.back().seconds = pose.seconds;
    } else {
        poses.push_back(pose);
    }
}

CameraPath PathRecorder::path() const {
    std::vector<PathKeyframe> frames = poses;
    if (latest && latest->seconds > frames.back().seconds) frames.push_back(*latest);
    return CameraPath(std::move(frames));
}

std::string recordingFileName(std::time_t now) {
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d-%H-%M-%S", &local);
    const std::string stem = std::string("kelta-path-") + stamp;
    std::string name = stem + ".json";
    // A name that cannot be looked up is tried as it is: writing it says why it fails.
    const auto isTaken = [](const std::string& candidate) {
        std::error_code status;
        const std::filesystem::file_type type = std::filesystem::symlink_status(candidate, status).type();
        return type != std::filesystem::file_type::not_found && type != std::filesystem::file_type::none;
    };
    for (int copy = 2; isTaken(name); ++copy) name = stem + "-" + std::to_string(copy) + ".json";
    return name;
}
