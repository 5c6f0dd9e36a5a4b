// How kelta-shot draws a picture larger than it draws at once: in tiles of the view, each drawn with a
// margin of the view around it wide enough for the bloom, of which the picture keeps the inner part.
#pragma once

#include <vector>

#include "post/BlurGrid.h"

// A rectangle of a picture's pixels, counted from its bottom-left corner as GL's window coordinates are.
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct PosterTile {
    // The part of the view drawn, and the part of it that the picture keeps.
    PixelRect drawn;
    PixelRect kept;
};

// The tiles kept over the same rows of the picture, `y` to `y + height` (from the bottom), left first.
struct PosterBand {
    int y = 0;
    int height = 0;
    std::vector<PosterTile> tiles;
};

struct PosterLayout {
    // Every tile is drawn at this size, so that the render targets are made once.
    int drawnWidth = 0;
    int drawnHeight = 0;
    // The top band first, the order the picture's rows are written in.
    std::vector<PosterBand> bands;

    int tileCount() const;
};

// The margin that each side of a tile is drawn with: bloomReach in whole blur texels, and one more
// for the whole picture's texels being wider than BLUR_DOWNSAMPLING pixels along a side that is not a
// multiple of it (by under a hundredth of a texel each over a side long enough to be cut).
PixelReach posterMargin();

// The tiles of a width x height picture that keep tileSide pixels a side each (a multiple of
// BLUR_DOWNSAMPLING), the last of a row or column less, drawn with `margin` around them. Along a side
// that fits one tile with its margins there is one tile, the whole side. Otherwise each tile is drawn
// at tileSide plus both margins, moved inwards at the picture's edges, so that every tile is drawn at
// one size, within the picture, with its margin of the view around the kept part or as much of it as
// the picture has there (where the bloom meets the picture's edge as the whole picture's does). Drawn
// tiles start on multiples of BLUR_DOWNSAMPLING from the bottom-left corner, where the whole
// picture's blur texels do when its sides are such multiples (and then each tile's blur grid is the
// identity; see blurGridOf).
PosterLayout planPoster(int width, int height, int tileSide, PixelReach margin);
