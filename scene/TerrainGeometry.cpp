// World positions of height samples, the world units of elevation maps and what the terrain says
// of them in its log.
#include "scene/TerrainGeometry.h"

#include <algorithm>
#include <iomanip>
#include <sstream>

TerrainGeometry imageMapGeometry(float horizontalScale, float heightScale, uint16_t largestValue) {
    TerrainGeometry geometry;
    geometry.columnSpacing = horizontalScale;
    geometry.rowSpacing = horizontalScale;
    // The quotient first, in single precision: an 8-bit map gives the heights it always gave.
    geometry.heightPerValue = heightScale / static_cast<float>(largestValue);
    return geometry;
}

double metresPerUnit(const Elevation& elevation, float horizontalScale) {
    return elevation.columnMetres / horizontalScale;
}

TerrainGeometry elevationMapGeometry(const Elevation& elevation, float horizontalScale, double exaggeration,
                                     double seaLevelMetres) {
    const double metresPerHeight = metresPerUnit(elevation, horizontalScale) / exaggeration;
    TerrainGeometry geometry;
    geometry.columnSpacing = horizontalScale;
    geometry.rowSpacing = static_cast<float>(horizontalScale * elevation.rowMetres / elevation.columnMetres);
    geometry.heightOffset = static_cast<float>((elevation.lowestMetres - seaLevelMetres) / metresPerHeight);
    geometry.heightPerValue = static_cast<float>(elevation.metresPerValue / metresPerHeight);
    geometry.metresPerHeight = static_cast<float>(metresPerHeight);
    return geometry;
}

void sampleRange(const HeightSamples& map, uint16_t& lowest, uint16_t& highest) {
    lowest = UINT16_MAX;
    highest = 0;
    for (size_t k = 0; k < map.samples.size(); ++k) {
        if (!map.voids.empty() && map.voids[k]) continue;
        lowest = std::min(lowest, map.samples[k]);
        highest = std::max(highest, map.samples[k]);
    }
    if (lowest > highest) lowest = highest = 0;
}

std::string elevationMapLine(const HeightSamples& map, float horizontalScale, double exaggeration) {
    const Elevation& elevation = *map.elevation;
    std::ostringstream line;
    line << "Elevation map: " << map.width << " x " << map.height << " samples, " << std::fixed << std::setprecision(1)
         << elevation.columnMetres << " x " << elevation.rowMetres << " m apart, " << std::setprecision(0)
         << elevation.minimumMetres << " to " << elevation.maximumMetres << " m, 1 unit = " << std::setprecision(1)
         << metresPerUnit(elevation, horizontalScale) << " m, exaggeration " << std::defaultfloat << std::setprecision(6) << exaggeration;
    return line.str();
}

std::string noDataLine(const HeightSamples& map) {
    std::ostringstream line;
    line << "No data: " << map.elevation->voidCount << " samples ("
         << (map.voids.empty() ? "filled" : "drawn as holes") << ")";
    return line.str();
}

std::string tooLargeLine(const std::string& way, int width, int height, const std::string& limit) {
    return "Height map too large for " + way + ": " + std::to_string(width) + " x " + std::to_string(height) +
           " samples, " + limit;
}
