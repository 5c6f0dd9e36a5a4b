// Following a track in the program: the track read onto the terrain drawn, its line on the ground,
// and the camera path that flies along it, for the window (kelta --follow) and for a video.
#pragma once

#include <optional>
#include <string>

#include "show/CameraPath.h"
#include "show/FollowOptions.h"

class Application;

// Reads the track the options name onto the application's terrain, draws it on the ground from now
// on (app.trackLine, in place of any track before it), says in the log what is followed and returns
// the flight along it, which starts at time 0. None, with one line naming the track, when it
// cannot be followed: no such file, no line or points in it, a map without a place on the Earth
// (an image map, or one without a coordinate system), or a track that does not cross the map.
std::optional<CameraPath> followTrack(Application& app, const FollowOptions& options, std::string& error);
