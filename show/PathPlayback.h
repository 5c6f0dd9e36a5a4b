// A camera path flown in the program: each frame, the camera takes the path's pose at the time
// since the flight began, and the pose's settings are put in force, as the keys and the panel
// would put them; the keys and the panel still work meanwhile.
#pragma once

#include <optional>

#include "show/CameraPath.h"

class Application;

// The application's camera and settings now, as a path pose: every field set.
PathPose poseOf(const Application& app);
// Puts the pose on the camera (the view matrix follows in the frame) and its set fields in force.
void applyPose(Application& app, const PathPose& pose);

class PathPlayback {
public:
    // Starts the flight at the application's time `startSeconds`.
    PathPlayback(CameraPath path, double startSeconds);

    // Puts the path's pose at `nowSeconds` on the application's camera and its settings in force.
    // Returns false once the path has ended (the camera stays at the last pose). The flight keeps
    // the application's time, but a frame that took longer than LONGEST_STEP_SECONDS (the first,
    // which builds the driver's programs, or one that opened a map) moves it on by that much only,
    // so that the flight is seen rather than skipped.
    bool advance(Application& app, double nowSeconds);
    // Whether any of the path's keyframes sets the sun's time.
    bool setsSunTime() const;

    static constexpr double LONGEST_STEP_SECONDS = 1.0;

private:
    CameraPath path;
    double startSeconds;
    // The application's time at the last advance, and how far into the path it had come.
    std::optional<double> lastSeconds;
    double pathSeconds = 0.0;
};
