// The terrain's world turned into map coordinates and elevations for measuring, through the map's
// coordinates (io/MapCoordinates.h).
#include "io/MapGround.h"

#include <algorithm>

vec3 worldOfSample(const TerrainOnMap& terrain, const std::array<double, 2>& sample) {
    return {static_cast<float>(sample[0] * terrain.columnSpacing), 0.0f,
            static_cast<float>(-(terrain.grid.height - 1 - sample[1]) * terrain.rowSpacing)};
}

MapGround::MapGround(const TerrainOnMap& terrain, HeightAt heightAt)
    : terrain(terrain), heightAt(std::move(heightAt)), coordinates(terrain.grid) {
    if (!coordinates.isGeoreferenced()) return;
    // A geotransform without a coordinate system is taken as metres.
    mapKind = coordinates.isGeographic() ? MapKind::Geographic : MapKind::Projected;
    if (mapKind == MapKind::Geographic) degreesPerUnit = coordinates.degreesPerUnit();
}

MapPoint MapGround::mapOf(const vec3& world) const {
    const double column = world.x / terrain.columnSpacing;
    const double row = (terrain.grid.height - 1) + world.z / terrain.rowSpacing;
    const std::array<double, 2> point = coordinates.mapPoint(column, row);
    return {point[0] * degreesPerUnit, point[1] * degreesPerUnit};
}

std::optional<LatLon> MapGround::latLonOf(const MapPoint& point) const {
    // The map's own datum is taken for WGS 84 on geographic maps: they differ by metres at most, far
    // below what a click on the terrain resolves.
    if (mapKind == MapKind::Geographic) return LatLon{point.y, point.x};
    const std::optional<std::array<double, 2>> found = coordinates.latitudeLongitude({point.x, point.y});
    if (!found) return std::nullopt;
    return LatLon{(*found)[0], (*found)[1]};
}

std::optional<double> MapGround::elevationAt(const MapPoint& point) const {
    const std::array<double, 2> sample = coordinates.sampleOf({point.x / degreesPerUnit, point.y / degreesPerUnit});
    const vec3 world = worldOfSample(terrain, sample);
    const std::optional<float> height = heightAt(world.x, world.z);
    if (!height) return std::nullopt;
    // Image maps measure heights in the grid's steps, as they measure distances.
    if (mapKind == MapKind::Image) return *height / terrain.columnSpacing;
    return *height * terrain.metresPerHeight + terrain.seaLevelMetres;
}

double MapGround::sampleSpacing() const {
    // An image map's grid is square: one step of it.
    if (mapKind == MapKind::Image) return 1.0;
    return std::min(terrain.columnSpacing, terrain.rowSpacing) * terrain.metresPerWorldUnit;
}
