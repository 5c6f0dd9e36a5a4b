#include "show/TrackFollowing.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "app/Application.h"
#include "io/Track.h"
#include "scene/Terrain.h"
#include "scene/TrackLine.h"
#include "show/TrackFlight.h"

namespace {

// "Following walk.gpx (tracks, 212 points): 9.8 km, 100 m above the ground at 300 km/h, 1 min 58 s"
std::string followingLine(const FollowOptions& options, const Track& track, double metres, double seconds) {
    std::ostringstream line;
    const long long wholeSeconds = std::llround(seconds);
    line << "Following " << options.trackPath << " (" << track.layerName << ", " << track.pointsRead
         << (track.joinedPoints ? " points joined" : " points") << "): " << std::fixed << std::setprecision(1)
         << metres / 1000.0 << " km, " << std::defaultfloat << std::setprecision(6) << options.heightMetres << " m above the ground at "
         << options.speedKmh << " km/h, ";
    if (wholeSeconds >= 60) line << wholeSeconds / 60 << " min ";
    line << wholeSeconds % 60 << " s";
    return line.str();
}

}  // namespace

std::optional<CameraPath> followTrack(Application& app, const FollowOptions& options, std::string& error) {
    const Terrain& terrain = *app.terrain;
    const std::string failure = "Could not follow " + options.trackPath + ": ";
    if (!terrain.elevation || terrain.elevation->grid.coordinateSystemWkt.empty()) {
        error = failure + "--follow needs a map with a place on the Earth, and " + terrain.name() + " has none";
        return std::nullopt;
    }
    const TerrainOnMap onMap = terrain.onMap();
    Track track;
    std::string reason;
    if (!readTrack(options.trackPath, onMap, track, reason)) {
        error = failure + reason;
        return std::nullopt;
    }
    FlightGround ground;
    ground.heightAt = [&terrain](float x, float z) { return terrain.heightAt(x, z); };
    ground.metresPerWorldUnit = onMap.metresPerWorldUnit;
    ground.metresPerHeight = onMap.metresPerHeight;
    ground.sampleSpacing = std::min(onMap.columnSpacing, onMap.rowSpacing);
    std::vector<PathKeyframe> keyframes = followingKeyframes(track.world, ground, options);
    if (keyframes.empty()) {
        error = failure + "its points on the map all lie at one place";
        return std::nullopt;
    }
    const double seconds = keyframes.back().seconds;
    std::cout << followingLine(options, track, seconds * options.speedKmh / 3.6, seconds) << std::endl;
    app.trackLine = std::make_unique<TrackLine>(std::move(track.world), terrain);
    return CameraPath(std::move(keyframes));
}
