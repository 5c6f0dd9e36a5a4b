// A flight: the path's pose, the water's time and the sun's at each frame's own time, never the
// clock's, however long a frame takes to draw, so that two runs write the same frames.
#include "tools/shot/ShotFlight.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/Application.h"
#include "io/AtomicFile.h"
#include "io/ProgressLine.h"
#include "show/PathPlayback.h"
#include "show/TrackFollowing.h"
#include "show/VideoEncoder.h"
#include "tools/common/ToolRun.h"
#include "tools/shot/ShotRenderer.h"

namespace {

// "1:05" or "1:02:05".
std::string clockText(double seconds) {
    const long whole = std::lround(std::max(0.0, seconds));
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    }
    return text;
}

std::string progressText(int done, int total, double elapsedSeconds) {
    const double rate = elapsedSeconds > 0.0 ? done / elapsedSeconds : 0.0;
    char text[128];
    std::snprintf(text, sizeof text, "kelta-shot: frame %d of %d, %.1f frames a second, %s left", done, total, rate,
                  rate > 0.0 ? clockText((total - done) / rate).c_str() : "?");
    return text;
}

// The name of frame `index` in a folder of frames: frame-00000.png, frame-00001.png, ...
std::string frameFileName(int index) {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%05d.png", index);
    return name;
}

}  // namespace

std::optional<CameraPath> readFlightPath(const ShotOptions& options, std::string& error) {
    std::optional<CameraPath> path;
    if (!readCameraPath(options.pathFile, path, error)) {
        error = "cannot fly " + error;
        return std::nullopt;
    }
    if (options.constantSpeed) path = path->withConstantSpeed();
    return path;
}

bool checkFlightTarget(const ShotOptions& options, std::string& error) {
    if (!options.videoPath.empty()) return checkReplaceable(options.videoPath, error);
    if (checkWritableFolder(options.framesFolder, error)) return true;
    error = "cannot write frames into " + error;
    return false;
}

int renderFlight(const ShotOptions& options, std::optional<CameraPath> path) {
    ShotSession session(options);
    Application& app = session.application();
    std::string error;
    // A track is read onto the terrain drawn, and flown over its heights.
    if (!path) path = followTrack(app, options.follow, error);
    if (!path) fail(error);
    const int frames = flightFrameCount(path->durationSeconds(), options.framesPerSecond);
    std::unique_ptr<VideoEncoder> encoder;
    if (!options.videoPath.empty()) {
        VideoSettings settings;
        settings.codec = *videoCodecOf(options.videoPath);
        settings.width = options.width;
        settings.height = options.height;
        settings.framesPerSecond = options.framesPerSecond;
        settings.quality = options.videoQuality;
        encoder = VideoEncoder::open(options.videoPath, settings, error);
        if (!encoder) fail(error);
    }

    ProgressLine progress;
    const auto start = std::chrono::steady_clock::now();
    for (int frame = 0; frame < frames; ++frame) {
        const double seconds = double(frame) / options.framesPerSecond;
        applyPose(app, path->poseAt(seconds));
        app.time = seconds;
        RgbImage8 image = session.renderFrame();
        // A failed encoder says why in finish, below.
        if (encoder && !encoder->add(std::move(image))) break;
        if (!encoder) {
            const std::string file = (std::filesystem::path(options.framesFolder) / frameFileName(frame)).string();
            if (!writePng(file, image, error)) {
                progress.end();
                fail(error);
            }
        }
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        progress.show(progressText(frame + 1, frames, elapsed));
    }
    progress.end();
    if (encoder && !encoder->finish(error)) fail(error);
    return frames;
}
