// The ground of a terrain as measuring sees it: the world positions of its samples turned into the
// coordinates of its map (its geotransform, its coordinate system and the earth under it), and the
// surface the picking reads turned into elevations.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "io/MapCoordinates.h"
#include "io/Measurement.h"
#include "io/RasterSource.h"

// Where the terrain's world lies over its map: sample (column, row), row counted from the top
// (north), lies at world x = column * columnSpacing, z = -((grid.height - 1 - row) * rowSpacing), and
// stands for the middle of its pixel in the grid's geotransform.
struct TerrainOnMap {
    // The map's grid turned north-up (an elevation map's Elevation::grid); for an image map only
    // its width and height, no geotransform.
    RasterGrid grid;
    // TerrainGeometry's.
    float columnSpacing = 1.0f;
    float rowSpacing = 1.0f;
    // Elevation maps: ground metres in a world unit across (metresPerUnit of scene/TerrainGeometry.h),
    // metres per world unit of height (TerrainGeometry::metresPerHeight) and the metres at height 0
    // (the sea level when there is a sea, else 0). Unread on image maps.
    double metresPerWorldUnit = 1.0;
    double metresPerHeight = 1.0;
    double seaLevelMetres = 0.0;
};

// Where the terrain lays a point of its map between the samples, at height 0 of the world: `sample`
// is the column east and the row south of the north-western sample, as MapCoordinates::sampleOf
// gives it.
vec3 worldOfSample(const TerrainOnMap& terrain, const std::array<double, 2>& sample);

class MapGround : public MeasureGround {
public:
    // The surface under world (x, z) as world height; null over a hole or off the map.
    using HeightAt = std::function<std::optional<float>(float x, float z)>;

    // An image map without a geotransform, a projected one (also one with a geotransform but no
    // coordinate system, taken as metres) or a geographic one, as its grid says.
    MapGround(const TerrainOnMap& terrain, HeightAt heightAt);
    MapGround(const MapGround&) = delete;
    MapGround& operator=(const MapGround&) = delete;

    MapKind kind() const override { return mapKind; }
    MapPoint mapOf(const vec3& world) const override;
    std::optional<LatLon> latLonOf(const MapPoint& point) const override;
    std::optional<double> elevationAt(const MapPoint& point) const override;
    double metresPerMapUnit() const override { return coordinates.metresPerUnit(); }
    double sampleSpacing() const override;

private:
    TerrainOnMap terrain;
    HeightAt heightAt;
    MapCoordinates coordinates;
    MapKind mapKind = MapKind::Image;
    // Geographic maps measure in degrees, whatever angular unit their system counts in.
    double degreesPerUnit = 1.0;
};
