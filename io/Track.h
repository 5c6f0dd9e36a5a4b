// A track to fly along, read from any vector file GDAL reads (GPX, KML, GeoJSON, Shapefile,
// GeoPackage, ...) and laid in the world of a terrain whose map has a place on the Earth: its points
// reprojected from the layer's coordinate system into the map's, then placed as the terrain places
// its samples.
#pragma once

#include <string>
#include <vector>

#include "io/MapGround.h"
#include "math/Math.h"

struct Track {
    // World points of the track, at height 0, in order: from its first point on the map to its
    // last; points off the map between them are kept, so that the track stays one line.
    std::vector<vec3> world;
    // The layer the points came from, and whether it held points alone, joined in their order.
    std::string layerName;
    bool joinedPoints = false;
    // Points read from the layer, on the map or not.
    size_t pointsRead = 0;
};

// Reads the track in `file` (a path read as given) onto `terrain`, whose grid has a geotransform and
// a coordinate system. The track is the first layer holding lines (GPX's "routes" and "tracks"),
// their parts one after the other, or, in a file without lines, the first layer holding points
// (GPX's "waypoints"), joined in their order. A layer without a coordinate system is taken to be
// in the map's; points the reprojection cannot take are left out. False with the reason alone (no
// file name) when the file does not exist or GDAL does not read it, when it has no layer of lines
// or points, fewer than 2 points, a coordinate system that cannot be turned into the map's, or
// fewer than 2 points on the map.
bool readTrack(const std::string& file, const TerrainOnMap& terrain, Track& track, std::string& reason);
