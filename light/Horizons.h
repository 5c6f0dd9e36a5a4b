// How high the terrain rises around each sample of a height grid, for the shadows the terrain casts
// on itself under the sun and the sky light its valleys lose. Computed on the CPU from the heights
// alone, free of GL, so that it is tested on its own and can run away from the drawing thread.
//
// Horizons reach over the whole grid: a range at the far side of the map shades a plain at the near
// side. Each direction is one sweep of lines of samples parallel to it, each line keeping the upper
// convex hull of the profile behind it, so that a sample costs amortised O(1) per direction however
// far its shadows reach.
#pragma once

#include <vector>

// Heights in world units on a regular grid; row 0 is the south row; NaN marks a sample without data.
// Sample (c, r) lies at x = c*columnSpacing, z = -r*rowSpacing (north is -z, east is +x). Both
// spacings are above zero.
struct HeightGrid {
    const float* heights = nullptr;
    int width = 0, height = 0;
    float columnSpacing = 1, rowSpacing = 1;
};

// What horizonTangents gives where the terrain rises nowhere above the sample's horizontal plane
// steeper than this (45 degrees down): how far the ground falls away matters to no light from above.
constexpr float LOWEST_HORIZON_TANGENT = -1.0f;

// For every sample: the tangent of the elevation angle of the highest terrain seen from the sample
// (at its own height) looking towards `azimuthDegrees` (from north, clockwise: 90 = east), over the
// whole grid; never below LOWEST_HORIZON_TANGENT. The sun at that azimuth lights a sample when the
// tangent of its altitude is above the sample's value.
//
// Heights along the sweep lines, which lie one sample apart, are bilinear between the samples,
// taken every half step. A sample takes the horizon points of the two lines beside it, seen from its
// own height and weighted by nearness, and the terrain half a step along its own ray. Against a walk
// along each sample's own ray in half steps, lit and shadowed agree in over 99% of the samples of
// real maps under a sun 5 degrees high. Voids (NaN), and terrain interpolated from them, never
// occlude; a void's own value is LOWEST_HORIZON_TANGENT, and so is every value for a grid without
// heights or without spacings above zero, or an azimuth that is not finite. Lines are shared among `threads` threads (at least
// one); the result does not depend on how many. width*height entries, in the order of `heights`.
//
// A grid that is a window onto a larger map sees the terrain beyond its edges through
// `surroundings`: coarser grids around it, finest first, each tried in turn for a point outside the
// grid. Their terrain, bilinear between their samples and walked in half their steps, joins each
// line's profile before the line enters the grid, so that a range far outside the window still
// shades it and ground inside it keeps its own detail.
struct SurroundingGrid {
    HeightGrid grid;
    // Its sample (c, r) lies at the window grid's sample (originColumn + c*factor, originRow + r*factor);
    // factor is at least 1.
    double originColumn = 0, originRow = 0, factor = 1;
};
std::vector<float> horizonTangents(const HeightGrid& grid, double azimuthDegrees, int threads,
                                   const std::vector<SurroundingGrid>& surroundings = {});

// The sun's disc, 0.53 degrees across.
constexpr double SUN_DIAMETER_DEGREES = 0.53;

// How much of the sun's disc, its centre `altitudeDegrees` high, shows over a horizon of this
// tangent: 0 when the disc is wholly below it, 1 when wholly above, in between along the soft
// edge of a shadow.
float sunDiscShare(float horizonTangent, double altitudeDegrees);

// For every sample, the share of the sky's cosine-weighted light that reaches a horizontal surface
// there over the horizons in `directions` (at least one) evenly spaced azimuths, the first north:
// 1 on a plane, less in valleys and gullies, ridges near 1. Over a horizon at elevation h >= 0 a
// slice of the sky gives cos^2(h) of its unoccluded light. Voids get 1.
std::vector<float> skyVisibility(const HeightGrid& grid, int directions, int threads);
