// Renders one frame of the program's own pipeline for kelta-shot.
#pragma once

#include "tools/shot/PngImage.h"
#include "tools/shot/ShotOptions.h"

// Starts the program up in a hidden window of the requested size, poses it as the options say,
// composes frames until the terrain has settled (a streamed map has loaded what the view wants) and
// returns the last one's pixels. Ends the process with one line on any failure, as the program's
// start-up does. Call once per process.
RgbImage8 renderShot(const ShotOptions& options);
