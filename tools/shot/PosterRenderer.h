// Pictures larger than kelta-shot draws at once, drawn in tiles of the view and written as they come.
#pragma once

#include "tools/shot/ShotOptions.h"

// Draws the options' picture in the tiles planPoster lays out, each a part of the one view with the
// margin its bloom needs, and writes it to options.outputPath row by row, one band of tiles at a
// time, so that no more than one band is held; says on standard error which tile it draws. The file
// replaces the output whole once every row is in, or not at all. Ends the process with one line on
// any failure. Call once per process.
void renderPoster(const ShotOptions& options);
