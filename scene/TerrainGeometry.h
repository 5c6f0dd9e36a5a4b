// How the terrain turns height samples into world positions, one rule for every map, and the
// world units of elevation maps, whose samples are metres on a ground of known spacing.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "io/HeightMap.h"

// Sample (column, row) of value v lies at x = column * columnSpacing, z = -(row * rowSpacing),
// y = heightOffset + v * heightPerValue, raised to lowestHeight where it lies below.
struct TerrainGeometry {
    float columnSpacing = 1.0f;
    float rowSpacing = 1.0f;
    float heightOffset = 0.0f;
    float heightPerValue = 0.0f;
    // Metres of elevation per unit of y: elevation maps only, 0 for image maps.
    float metresPerHeight = 0.0f;
    // The sea's surface where a sea raised above the level the map was read at covers ground that
    // the samples still hold; the lowest float (nothing raised) otherwise.
    float lowestHeight = std::numeric_limits<float>::lowest();

    // The height that value v is drawn at. The comparison keeps a NaN (a void) as it is.
    float heightOf(float value) const {
        const float height = heightOffset + value * heightPerValue;
        return height < lowestHeight ? lowestHeight : height;
    }
};

// The z of a sample row counted south from the northern edge of a map `height` samples high, as the
// terrain trees count their rows.
inline float zOfRowFromNorth(int row, int height, float rowSpacing) {
    return -(static_cast<float>(height - 1 - row) * rowSpacing);
}

// An image map: a square grid horizontalScale apart whose largest value stands heightScale high.
TerrainGeometry imageMapGeometry(float horizontalScale, float heightScale, uint16_t largestValue);

// Ground metres per world unit of an elevation map whose columns lie horizontalScale apart.
double metresPerUnit(const Elevation& elevation, float horizontalScale);

// An elevation map at its true proportions: columns horizontalScale apart, rows as far apart as
// the ground's rows are in proportion, heights in the same units times the exaggeration, with
// seaLevelMetres at height 0.
TerrainGeometry elevationMapGeometry(const Elevation& elevation, float horizontalScale, double exaggeration,
                                     double seaLevelMetres);

// The lowest and highest value of the samples with data; both 0 when none has data.
void sampleRange(const HeightSamples& map, uint16_t& lowest, uint16_t& highest);

// The log lines of an elevation map: what it is and its world units, and its samples without
// data when it has any.
std::string elevationMapLine(const HeightSamples& map, float horizontalScale, double exaggeration);
std::string noDataLine(const HeightSamples& map);

// The one line that says a map is too large for a way of drawing it ("one mesh", "level of
// detail", "streaming"): "Height map too large for <way>: <width> x <height> samples, <limit>".
std::string tooLargeLine(const std::string& way, int width, int height, const std::string& limit);
