// A camera path flown in the program: each frame, the camera takes the path's pose at the time
// since the flight began, and the pose's settings are put in force, as the keys and the panel
// would put them; the keys and the panel still work meanwhile.
#pragma once

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
    // Returns false once the path has ended (the camera stays at the last pose).
    bool advance(Application& app, double nowSeconds);
    const CameraPath& flightPath() const { return path; }

private:
    CameraPath path;
    double startSeconds;
};
