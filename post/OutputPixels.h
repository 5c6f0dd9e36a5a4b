// Reading the final pass's picture back from the framebuffer it drew into, for the stills and
// screenshots that are written of it.
#pragma once

#include <cstdint>

#include "io/PngImage.h"

// The `width` x `height` pixels of `framebuffer` from its bottom left (for the window's own, 0,
// its back buffer, which the final pass has drawn and nothing has presented yet), top row first.
RgbImage8 readOutputPixels(unsigned int framebuffer, int width, int height);

// Pixels [x, x + width) x [y, y + height) of `framebuffer` (from its bottom left, as above) into
// `pixels`, RGB, bottom row first, each row `rowLength` pixels after the one before: a part of a
// larger picture's rows, in place.
void readOutputRows(unsigned int framebuffer, int x, int y, int width, int height, int rowLength, uint8_t* pixels);
