// Where a point of a map lies on the Earth: its coordinates in the raster's own system, by its
// geotransform, and its latitude and longitude on WGS 84, by GDAL's coordinate transformation,
// built once per map. And the one line that describes a point of the ground.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "io/RasterSource.h"

class OGRCoordinateTransformation;

class MapCoordinates {
public:
    // Of the grid's geotransform and coordinate system; without a geotransform (an image map) a
    // point's map coordinates are its sample column and row, counted from the top-left sample.
    explicit MapCoordinates(const RasterGrid& grid);
    ~MapCoordinates();
    MapCoordinates(const MapCoordinates&) = delete;
    MapCoordinates& operator=(const MapCoordinates&) = delete;

    // Whether map coordinates are the raster's own system's (it has a geotransform).
    bool isGeoreferenced() const { return transform.has_value(); }
    // Whether they are degrees of longitude and latitude.
    bool isGeographic() const { return geographic; }
    // The map coordinates (x, y) of a point between the samples: column east of the western
    // sample and row south of the northern one. A sample stands for its pixel, so it lies at the
    // pixel's centre.
    std::array<double, 2> mapPoint(double column, double row) const;
    // The column and row (as mapPoint counts them) of map coordinates: mapPoint undone.
    std::array<double, 2> sampleOf(const std::array<double, 2>& point) const;
    // Latitude and longitude in degrees on WGS 84 of map coordinates; none without a coordinate
    // system, or where the transformation fails.
    std::optional<std::array<double, 2>> latitudeLongitude(const std::array<double, 2>& point) const;
    // Metres in one unit of a projected system's coordinates (1 without a system); degrees in one
    // of a geographic system's.
    double metresPerUnit() const { return linearUnitMetres; }
    double degreesPerUnit() const { return angularUnitDegrees; }

private:
    std::optional<std::array<double, 6>> transform;
    bool geographic = false;
    double linearUnitMetres = 1.0;
    double angularUnitDegrees = 1.0;
    // Null without a coordinate system GDAL can turn into WGS 84.
    std::unique_ptr<OGRCoordinateTransformation> toWgs84;
};

// What is known of a point of the ground.
struct GroundPoint {
    // False when there is no point: the ray left the map without meeting it, or the point lies
    // beyond the map's edge (its coordinates are still known, but not its ground).
    bool onMap = false;
    // Its map coordinates (see MapCoordinates), and whether they are the raster's system's.
    std::array<double, 2> mapPoint{};
    bool georeferenced = false;
    bool geographic = false;
    std::optional<std::array<double, 2>> latitudeLongitude;
    // Its elevation: metres for an elevation map, the world's height for an image map; none where
    // the map has no data.
    std::optional<double> elevation;
    bool elevationInMetres = false;
    // The steepness of the triangle under it, 0 for level ground.
    double slopeDegrees = 0.0;
};

// The point as one line: "500123.4, 9114456.2 (-7.98123, -34.84560), 12.3 m", map coordinates
// to 0.1 (degrees to 0.00001), latitude and longitude where known, then the elevation ("no data"
// for none); an image map's "column, row, height"; "off the map" for no point.
std::string groundPointText(const GroundPoint& point);
