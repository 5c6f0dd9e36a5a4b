// A flight recorded as it is flown: the camera's poses against time, kept as a camera path that
// --play flies again.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "show/CameraPath.h"

class PathRecorder {
public:
    // A pose kept at most this often: the curve through them follows a hand's flight closely,
    // and a minute's recording stays some two thousand lines.
    static constexpr double POSE_INTERVAL_SECONDS = 1.0 / 30.0;

    // The recording's time 0 is the application's time `startSeconds`.
    explicit PathRecorder(double startSeconds);

    // The camera's pose at the application's time `nowSeconds`, each frame: kept when it comes
    // a pose interval after the last one kept, or else held as the latest, which ends the path.
    // While the camera stands still only the first and the latest pose of the stillness are kept.
    void add(double nowSeconds, const vec3& position, const vec3& direction);
    // The poses so far as a path (at least one pose must have been added), timed from 0 in
    // whole milliseconds.
    CameraPath path() const;

private:
    double startSeconds;
    std::vector<PathKeyframe> poses;
    std::optional<PathKeyframe> latest;
};

// Where a recording made at the local time `now` is saved, in the working directory:
// "kelta-path-2026-12-09-14-03-22.json", or with "-2", "-3", ... before ".json" when that name is
// taken, so that no earlier recording is replaced.
std::string recordingFileName(std::time_t now);
