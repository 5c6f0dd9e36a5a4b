#include "ui/PathMeasuring.h"

#include <algorithm>

#include "scene/GroundPath.h"
#include "scene/Terrain.h"

PathMeasuring::PathMeasuring() = default;

PathMeasuring::~PathMeasuring() = default;

void PathMeasuring::add(const Terrain& terrain, const vec3& world) {
    laid.push_back(PathPoint{world, {}, {}, {}});
    remeasure(terrain);
}

void PathMeasuring::clear() {
    laid.clear();
    measured = PathMeasure{};
    ground.reset();
    if (line) line->setPath({}, {}, 0.0f);
}

void PathMeasuring::followHeights(const Terrain& terrain) {
    const TerrainGeometry& geometry = terrain.geometry;
    if (!laid.empty() && (geometry.heightPerValue != laidHeightPerValue || geometry.heightOffset != laidHeightOffset)) {
        remeasure(terrain);
    }
}

void PathMeasuring::layOver(const Terrain& terrain) {
    if (!laid.empty()) remeasure(terrain);
}

void PathMeasuring::remeasure(const Terrain& terrain) {
    const TerrainGeometry& geometry = terrain.geometry;
    laidHeightPerValue = geometry.heightPerValue;
    laidHeightOffset = geometry.heightOffset;
    ground = std::make_unique<MapGround>(terrain.onMap(),
                                         [&terrain](float x, float z) { return terrain.heightAt(x, z); });
    std::vector<vec3> clicked;
    for (PathPoint& point : laid) {
        // The point stays where it was clicked on the map; its height follows the ground's.
        if (const std::optional<float> height = terrain.heightAt(point.world.x, point.world.z)) {
            point.world.y = *height;
        }
        point = pathPointAt(*ground, point.world);
        clicked.push_back(point.world);
    }
    measured = measurePath(*ground, laid);
    if (!line) line = std::make_unique<GroundPath>();
    const float spacing = std::min(geometry.columnSpacing, geometry.rowSpacing);
    line->setPath(drapeOnGround(clicked, spacing, [&terrain](float x, float z) { return terrain.heightAt(x, z); }),
                  clicked, spacing);
}

bool PathMeasuring::saveProfile(const std::string& path, std::string& error) const {
    return saveProfileCsv(path, measured, error);
}

void PathMeasuring::draw(const mat4& modelview, const mat4& projection) const {
    if (line) line->draw(modelview, projection);
}
