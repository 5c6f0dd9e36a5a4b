#include "scene/TrackLine.h"

#include <algorithm>

#include "io/Measurement.h"
#include "scene/GroundPath.h"
#include "scene/Terrain.h"

TrackLine::TrackLine(std::vector<vec3> track, const Terrain& terrain)
    : track(std::move(track)), line(std::make_unique<GroundPath>(TRACK_COLOUR)) {
    layOver(terrain);
}

TrackLine::~TrackLine() = default;

void TrackLine::followHeights(const Terrain& terrain) {
    const TerrainGeometry& geometry = terrain.geometry;
    if (geometry.heightPerValue != laidHeightPerValue || geometry.heightOffset != laidHeightOffset) layOver(terrain);
}

void TrackLine::layOver(const Terrain& terrain) {
    const TerrainGeometry& geometry = terrain.geometry;
    laidHeightPerValue = geometry.heightPerValue;
    laidHeightOffset = geometry.heightOffset;
    const auto heightAt = [&terrain](float x, float z) { return terrain.heightAt(x, z); };
    // The track's own points on the ground too, where the map has heights for them.
    std::vector<vec3> onGround = track;
    for (vec3& point : onGround) point.y = heightAt(point.x, point.z).value_or(0.0f);
    const float spacing = std::min(geometry.columnSpacing, geometry.rowSpacing);
    line->setPath(drapeOnGround(onGround, spacing, heightAt), {}, spacing);
}

void TrackLine::draw(const mat4& modelview, const mat4& projection) const { line->draw(modelview, projection); }
