// Renders one frame of the program's own pipeline for kelta-shot.
#pragma once

#include "io/PngImage.h"
#include "tools/shot/ShotOptions.h"

// Starts the program up in a hidden window of the requested size, poses it as the options say,
// lets the terrain settle without drawing (a streamed map loads what the view wants), composes the
// frame and returns its pixels. Ends the process with one line on any failure, as the program's
// start-up does. Call once per process.
RgbImage8 renderShot(const ShotOptions& options);
