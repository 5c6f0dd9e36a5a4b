// Map coordinates by the geotransform, latitude and longitude through OGR, and the line that says
// where a point of the ground is.
#include "io/MapCoordinates.h"

#include <ogr_spatialref.h>

#include <cmath>
#include <iomanip>
#include <sstream>

#include "io/Gdal.h"

MapCoordinates::MapCoordinates(const RasterGrid& grid) : transform(grid.geoTransform) {
    if (!transform || grid.coordinateSystemWkt.empty()) return;
    // GDAL's failures to understand a system leave the map without latitude and longitude, in silence.
    const GdalMessages quiet;
    OGRSpatialReference source;
    if (source.importFromWkt(grid.coordinateSystemWkt.c_str()) != OGRERR_NONE) return;
    geographic = source.IsGeographic() != 0;
    if (geographic) {
        constexpr double RADIANS_PER_DEGREE = 0.017453292519943295;
        angularUnitDegrees = source.GetAngularUnits(nullptr) / RADIANS_PER_DEGREE;
    } else {
        linearUnitMetres = source.GetLinearUnits(nullptr);
    }
    OGRSpatialReference wgs84;
    if (wgs84.SetWellKnownGeogCS("WGS84") != OGRERR_NONE) return;
    // Easting before northing, longitude before latitude, whatever order the systems' authorities give.
    source.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    toWgs84.reset(OGRCreateCoordinateTransformation(&source, &wgs84));
}

MapCoordinates::~MapCoordinates() = default;

std::array<double, 2> MapCoordinates::mapPoint(double column, double row) const {
    if (!transform) return {column, row};
    const std::array<double, 6>& t = *transform;
    const double x = column + 0.5, y = row + 0.5;
    return {t[0] + x * t[1] + y * t[2], t[3] + x * t[4] + y * t[5]};
}

std::array<double, 2> MapCoordinates::sampleOf(const std::array<double, 2>& point) const {
    if (!transform) return point;
    const std::array<double, 6>& t = *transform;
    const double x = point[0] - t[0], y = point[1] - t[3];
    const double determinant = t[1] * t[5] - t[2] * t[4];
    return {(x * t[5] - y * t[2]) / determinant - 0.5, (y * t[1] - x * t[4]) / determinant - 0.5};
}

std::optional<std::array<double, 2>> MapCoordinates::latitudeLongitude(const std::array<double, 2>& point) const {
    if (!toWgs84) return std::nullopt;
    // A point the projection cannot invert is told by the result alone.
    const GdalMessages quiet;
    double longitude = point[0], latitude = point[1];
    if (!toWgs84->Transform(1, &longitude, &latitude) || !std::isfinite(latitude) || !std::isfinite(longitude)) {
        return std::nullopt;
    }
    return std::array<double, 2>{latitude, longitude};
}

std::string groundPointText(const GroundPoint& point) {
    if (!point.onMap) return "off the map";
    std::ostringstream text;
    text << std::fixed << std::setprecision(point.geographic ? 5 : 1) << point.mapPoint[0] << ", " << point.mapPoint[1];
    if (point.latitudeLongitude) {
        text << std::setprecision(5) << " (" << (*point.latitudeLongitude)[0] << ", " << (*point.latitudeLongitude)[1]
             << ")";
    }
    text << ", ";
    if (!point.elevation) {
        text << "no data";
    } else {
        text << std::setprecision(1) << *point.elevation << (point.elevationInMetres ? " m" : "");
    }
    return text.str();
}
