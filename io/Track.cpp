// The track's layer chosen by what its geometries hold (KML's layers declare no geometry type, and
// GPX declares all five of its layers whatever the file holds), reprojected through OGR.
#include "io/Track.h"

#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <memory>

#include "io/Gdal.h"
#include "io/MapCoordinates.h"

namespace {

using MapPoints = std::vector<std::array<double, 2>>;

// Appends the geometry's lines (or its points), the parts of a collection in their order.
void collect(const OGRGeometry& geometry, bool lines, MapPoints& points) {
    const OGRwkbGeometryType type = wkbFlatten(geometry.getGeometryType());
    if (OGR_GT_IsSubClassOf(type, wkbGeometryCollection)) {
        const OGRGeometryCollection& parts = *geometry.toGeometryCollection();
        for (int k = 0; k < parts.getNumGeometries(); ++k) collect(*parts.getGeometryRef(k), lines, points);
    } else if (lines && type == wkbLineString) {
        const OGRLineString& line = *geometry.toLineString();
        for (int k = 0; k < line.getNumPoints(); ++k) points.push_back({line.getX(k), line.getY(k)});
    } else if (!lines && type == wkbPoint && !geometry.IsEmpty()) {
        const OGRPoint& point = *geometry.toPoint();
        points.push_back({point.getX(), point.getY()});
    }
}

// The first layer with lines (or points) in the dataset, and its points; null when there is none.
OGRLayer* firstLayerWith(GDALDataset& dataset, bool lines, MapPoints& points) {
    for (int index = 0; index < dataset.GetLayerCount(); ++index) {
        OGRLayer* layer = dataset.GetLayer(index);
        for (const OGRFeatureUniquePtr& feature : *layer) {
            if (const OGRGeometry* geometry = feature->GetGeometryRef()) collect(*geometry, lines, points);
        }
        if (!points.empty()) return layer;
    }
    return nullptr;
}

// Reprojects the points from the layer's system into the map's, in place; `reprojected` says of
// each whether it could be.
bool reproject(const OGRSpatialReference* layerSystem, const std::string& mapWkt, MapPoints& points,
               std::vector<int>& reprojected, std::string& reason) {
    reprojected.assign(points.size(), TRUE);
    if (!layerSystem) return true;
    OGRSpatialReference source(*layerSystem);
    OGRSpatialReference target;
    if (target.importFromWkt(mapWkt.c_str()) != OGRERR_NONE) {
        reason = "the map's coordinate system is not one GDAL understands";
        return false;
    }
    // Easting before northing, longitude before latitude, whatever order the systems' authorities
    // give, as the geotransform takes them.
    source.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    target.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    const GdalMessages messages;
    const std::unique_ptr<OGRCoordinateTransformation> transformation(
        OGRCreateCoordinateTransformation(&source, &target));
    if (!transformation) {
        reason = "its coordinate system cannot be turned into the map's: " + messages.reason();
        return false;
    }
    std::vector<double> xs, ys;
    for (const std::array<double, 2>& point : points) {
        xs.push_back(point[0]);
        ys.push_back(point[1]);
    }
    // A point the projection cannot take is told by its flag alone.
    transformation->Transform(points.size(), xs.data(), ys.data(), nullptr, reprojected.data());
    for (size_t k = 0; k < points.size(); ++k) points[k] = {xs[k], ys[k]};
    return true;
}

}  // namespace

bool readTrack(const std::string& file, const TerrainOnMap& terrain, Track& track, std::string& reason) {
    const bool isVirtual = file.rfind("/vsi", 0) == 0;
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(file, error);
    if (!isVirtual && !std::filesystem::exists(status)) {
        reason = "no such file";
        return false;
    }
    // A pipe or a device would be waited on for ever; a folder may be a shapefile's.
    if (!isVirtual && !std::filesystem::is_regular_file(status) && !std::filesystem::is_directory(status)) {
        reason = "not a regular file";
        return false;
    }
    const GdalMessages messages;
    const GdalDataset opened(GDALOpenEx(file.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR,
                                        nullptr, nullptr, nullptr));
    if (!opened) {
        reason = "not a vector file GDAL reads: " + messages.reason();
        return false;
    }
    GDALDataset& dataset = *GDALDataset::FromHandle(opened.get());
    MapPoints points;
    track = Track{};
    OGRLayer* layer = firstLayerWith(dataset, true, points);
    if (!layer) {
        layer = firstLayerWith(dataset, false, points);
        track.joinedPoints = true;
    }
    if (!layer) {
        reason = "no layer of lines or points";
        return false;
    }
    track.layerName = layer->GetName();
    track.pointsRead = points.size();
    if (points.size() < 2) {
        reason = "fewer than 2 points in layer " + track.layerName;
        return false;
    }
    std::vector<int> reprojected;
    if (!reproject(layer->GetSpatialRef(), terrain.grid.coordinateSystemWkt, points, reprojected, reason)) return false;

    const MapCoordinates coordinates(terrain.grid);
    const auto isOnMap = [&](const std::array<double, 2>& sample) {
        return sample[0] >= 0.0 && sample[0] <= terrain.grid.width - 1 && sample[1] >= 0.0 &&
               sample[1] <= terrain.grid.height - 1;
    };
    std::vector<std::array<double, 2>> samples;
    size_t first = points.size(), last = 0;
    for (size_t k = 0; k < points.size(); ++k) {
        if (!reprojected[k]) continue;
        samples.push_back(coordinates.sampleOf(points[k]));
        if (!isOnMap(samples.back())) continue;
        first = std::min(first, samples.size() - 1);
        last = samples.size() - 1;
    }
    if (first > last) {
        reason = "it lies wholly outside the map";
        return false;
    }
    if (first == last) {
        reason = "only one of its points lies on the map";
        return false;
    }
    for (size_t k = first; k <= last; ++k) track.world.push_back(worldOfSample(terrain, samples[k]));
    return true;
}
