// Geotransforms forwards and backwards, and OGR for the latitude and longitude of projected maps.
#include "io/MapGround.h"

#include <GeographicLib/Math.hpp>
#include <ogr_srs_api.h>

#include <algorithm>
#include <cmath>

#include "io/Gdal.h"

struct MapGround::ToLatLon {
    OGRSpatialReferenceH source = nullptr;
    OGRSpatialReferenceH wgs84 = nullptr;
    OGRCoordinateTransformationH transform = nullptr;

    ~ToLatLon() {
        if (transform) OCTDestroyCoordinateTransformation(transform);
        if (wgs84) OSRDestroySpatialReference(wgs84);
        if (source) OSRDestroySpatialReference(source);
    }
};

MapGround::MapGround(const TerrainOnMap& terrain, HeightAt heightAt)
    : terrain(terrain), heightAt(std::move(heightAt)) {
    if (!terrain.grid.geoTransform) return;
    mapKind = MapKind::Projected;
    if (terrain.grid.coordinateSystemWkt.empty()) return;
    // GDAL's messages (a system that OGR cannot read or transform) are kept from the terminal: the
    // map is then measured in its units without latitude and longitude.
    const GdalMessages quiet;
    auto system = std::make_unique<ToLatLon>();
    system->source = OSRNewSpatialReference(terrain.grid.coordinateSystemWkt.c_str());
    if (!system->source) return;
    OSRSetAxisMappingStrategy(system->source, OAMS_TRADITIONAL_GIS_ORDER);
    if (OSRIsGeographic(system->source)) {
        mapKind = MapKind::Geographic;
        // The map's own datum is taken for WGS 84: they differ by metres at most, far below what a
        // click on the terrain resolves.
        degreesPerUnit = OSRGetAngularUnits(system->source, nullptr) / GeographicLib::Math::degree();
        return;
    }
    metresPerUnit = OSRGetLinearUnits(system->source, nullptr);
    system->wgs84 = OSRNewSpatialReference(nullptr);
    OSRSetWellKnownGeogCS(system->wgs84, "WGS84");
    OSRSetAxisMappingStrategy(system->wgs84, OAMS_TRADITIONAL_GIS_ORDER);
    system->transform = OCTNewCoordinateTransformation(system->source, system->wgs84);
    if (system->transform) toLatLon = std::move(system);
}

MapGround::~MapGround() = default;

MapPoint MapGround::mapOfPixel(double column, double row) const {
    if (!terrain.grid.geoTransform) return {column, row};
    const std::array<double, 6>& t = *terrain.grid.geoTransform;
    const MapPoint point{t[0] + column * t[1] + row * t[2], t[3] + column * t[4] + row * t[5]};
    return {point.x * degreesPerUnit, point.y * degreesPerUnit};
}

MapPoint MapGround::pixelOf(const MapPoint& point) const {
    if (!terrain.grid.geoTransform) return point;
    const std::array<double, 6>& t = *terrain.grid.geoTransform;
    const double x = point.x / degreesPerUnit - t[0], y = point.y / degreesPerUnit - t[3];
    const double determinant = t[1] * t[5] - t[2] * t[4];
    return {(x * t[5] - y * t[2]) / determinant, (y * t[1] - x * t[4]) / determinant};
}

MapPoint MapGround::mapOf(const vec3& world) const {
    const double column = world.x / terrain.columnSpacing;
    const double row = (terrain.grid.height - 1) + world.z / terrain.rowSpacing;
    // Image maps count samples; a geotransform places pixels by their corners.
    if (!terrain.grid.geoTransform) return {column, row};
    return mapOfPixel(column + 0.5, row + 0.5);
}

std::optional<LatLon> MapGround::latLonOf(const MapPoint& point) const {
    if (mapKind == MapKind::Geographic) return LatLon{point.y, point.x};
    if (!toLatLon) return std::nullopt;
    double x = point.x, y = point.y, z = 0.0;
    if (!OCTTransform(toLatLon->transform, 1, &x, &y, &z) || !std::isfinite(x) || !std::isfinite(y)) {
        return std::nullopt;
    }
    return LatLon{y, x};
}

std::optional<double> MapGround::elevationAt(const MapPoint& point) const {
    MapPoint sample = pixelOf(point);
    if (terrain.grid.geoTransform) sample = {sample.x - 0.5, sample.y - 0.5};
    const float x = static_cast<float>(sample.x * terrain.columnSpacing);
    const float z = static_cast<float>(-(terrain.grid.height - 1 - sample.y) * terrain.rowSpacing);
    const std::optional<float> height = heightAt(x, z);
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
