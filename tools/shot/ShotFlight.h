// A camera path flown frame by frame through one session of the program's pipeline, its frames
// written as a video or as numbered PNGs, with the progress on standard error.
#pragma once

#include <optional>
#include <string>

#include "show/CameraPath.h"
#include "tools/shot/ShotOptions.h"

// The path the options' --path names (retimed to one speed where they ask); none with one line
// naming the file and what is wrong with it.
std::optional<CameraPath> readFlightPath(const ShotOptions& options, std::string& error);

// Whether the flight's frames can be written where the options say; false with one line naming the
// file or folder otherwise. Checked before the program starts, as a still's file is.
bool checkFlightTarget(const ShotOptions& options, std::string& error);

// Flies `path` at the options' frame rate, or without one the flight along the options' track, read
// onto the terrain once the program has started; the frames are the settled pictures of its poses.
// Writes the video (in place of its file only once complete) or the PNGs, and returns the frames
// written. Ends the process with one line on any failure, leaving no part of a video behind.
int renderFlight(const ShotOptions& options, std::optional<CameraPath> path);
