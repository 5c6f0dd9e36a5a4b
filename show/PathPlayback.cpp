// A flight's pose put on the application: the camera by hand, the settings through the same
// channel as the keys and the panel.
#include "show/PathPlayback.h"

#include <algorithm>
#include <utility>

#include "app/Application.h"
#include "app/ViewSettings.h"
#include "math/Camera.h"

PathPose poseOf(const Application& app) {
    const ViewSettings settings = viewSettingsOf(app);
    PathPose pose;
    pose.position = app.camera->position;
    pose.direction = app.camera->direction;
    pose.settings.exaggeration = settings.exaggeration;
    pose.settings.sunTime = settings.sunTime;
    return pose;
}

void applyPose(Application& app, const PathPose& pose) {
    app.camera->position = pose.position;
    app.camera->direction = pose.direction;
    ViewSettings settings = viewSettingsOf(app);
    if (pose.settings.exaggeration) settings.exaggeration = *pose.settings.exaggeration;
    applyViewSettings(app, settings);
    // A time moves only a sun that a time placed, as the keys do; a flight moves it every frame,
    // so it says nothing until it ends.
    if (pose.settings.sunTime && app.sun && app.sun->time &&
        pose.settings.sunTime->utcSeconds != app.sun->time->utcSeconds) {
        app.setSun(atTime(*app.sun, *pose.settings.sunTime), SunReport::Quiet);
    }
}

PathPlayback::PathPlayback(CameraPath path, double startSeconds) : path(std::move(path)), startSeconds(startSeconds) {}

bool PathPlayback::setsSunTime() const {
    const std::vector<PathKeyframe>& frames = path.keyframes();
    return std::any_of(frames.begin(), frames.end(),
                       [](const PathKeyframe& frame) { return frame.settings.sunTime.has_value(); });
}

bool PathPlayback::advance(Application& app, double nowSeconds) {
    pathSeconds = lastSeconds ? pathSeconds + std::min(nowSeconds - *lastSeconds, LONGEST_STEP_SECONDS)
                              : nowSeconds - startSeconds;
    lastSeconds = nowSeconds;
    applyPose(app, path.poseAt(pathSeconds));
    return pathSeconds < path.durationSeconds();
}
