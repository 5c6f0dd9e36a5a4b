#include "ui/PanelFacts.h"

#include <cmath>
#include <cstdio>
#include <algorithm>
#include <filesystem>

#include "app/Application.h"
#include "math/Camera.h"
#include "scene/Terrain.h"
#include "scene/TerrainStream.h"

namespace {

constexpr double DEGREES_PER_RADIAN = 57.29577951308232;

PanelMap mapFacts(const Terrain& terrain) {
    PanelMap map;
    map.fileName = std::filesystem::path(terrain.name()).filename().string();
    map.width = terrain.gridWidth;
    map.height = terrain.gridHeight;
    const TerrainGeometry& geometry = terrain.geometry;
    if (terrain.elevation) {
        const Elevation& elevation = *terrain.elevation;
        map.inMetres = true;
        map.coordinateSystem = elevation.coordinateSystemName;
        map.columnSpacing = elevation.columnMetres;
        map.rowSpacing = elevation.rowMetres;
        map.lowest = elevation.minimumMetres;
        map.highest = elevation.maximumMetres;
    } else {
        map.columnSpacing = geometry.columnSpacing;
        map.rowSpacing = geometry.rowSpacing;
        if (const std::optional<vec2> range = terrain.heightRange()) {
            map.lowest = range->x;
            map.highest = range->y;
        }
    }
    return map;
}

}  // namespace

bool chooseScaleBar(double groundPerPixel, double longestPixels, double& length, double& pixels) {
    if (!(groundPerPixel > 0.0) || !std::isfinite(groundPerPixel) || !(longestPixels > 0.0)) return false;
    const double longest = groundPerPixel * longestPixels;
    const double power = std::pow(10.0, std::floor(std::log10(longest)));
    // The steps a reader takes in at a glance: 5, 2 or 1 times the power of ten, which always fits.
    length = power;
    for (double step : {5.0, 2.0}) {
        if (step * power <= longest) {
            length = step * power;
            break;
        }
    }
    pixels = length / groundPerPixel;
    return true;
}

std::string formatLength(double length, bool inMetres) {
    char text[48];
    if (!inMetres) {
        std::snprintf(text, sizeof text, "%.4g units", length);
    } else if (std::fabs(length) >= 1000.0) {
        std::snprintf(text, sizeof text, "%.4g km", length / 1000.0);
    } else {
        std::snprintf(text, sizeof text, "%.4g m", length);
    }
    return text;
}

// The samples lie a step of the map apart within a leg, but legs may end between steps.
std::vector<float> evenProfile(const std::vector<ProfileSample>& profile, int count) {
    std::vector<float> even;
    if (profile.size() < 2 || profile.back().distance <= 0.0) return even;
    const double length = profile.back().distance;
    size_t next = 1;
    float last = 0.0f;
    for (int k = 0; k < count; ++k) {
        const double distance = length * k / (count - 1);
        while (next + 1 < profile.size() && profile[next].distance < distance) ++next;
        const ProfileSample& before = profile[next - 1];
        const ProfileSample& after = profile[next];
        // A void keeps the last elevation known, so that the plot has no hole to fall into.
        if (before.elevation && after.elevation) {
            const double span = after.distance - before.distance;
            const double along = span > 0.0 ? std::clamp((distance - before.distance) / span, 0.0, 1.0) : 0.0;
            last = static_cast<float>(*before.elevation + (*after.elevation - *before.elevation) * along);
        } else if (before.elevation || after.elevation) {
            last = static_cast<float>(before.elevation ? *before.elevation : *after.elevation);
        }
        even.push_back(last);
    }
    return even;
}

PanelFacts gatherPanelFacts(const Application& application, double cursorX, double cursorY, double windowWidth,
                            double windowHeight) {
    PanelFacts facts;
    const Terrain& terrain = *application.terrain;
    const Camera& camera = *application.camera;
    facts.map = mapFacts(terrain);
    const TerrainGeometry& geometry = terrain.geometry;
    facts.camera.place = terrain.describe(camera.position);
    // An elevation map's height 0 is the sea's level, which its geometry's offset says in metres;
    // an image map's heights are the world's.
    const double metresPerHeight = terrain.elevation ? geometry.metresPerHeight : 1.0;
    const double seaLevel = terrain.elevation
                                ? terrain.elevation->lowestMetres - double(geometry.heightOffset) * metresPerHeight
                                : 0.0;
    facts.camera.heightAboveSea = seaLevel + double(camera.position.y) * metresPerHeight;
    if (const std::optional<float> ground = terrain.heightAt(camera.position.x, camera.position.z)) {
        facts.camera.heightAboveGround = double(camera.position.y - *ground) * metresPerHeight;
    }
    // North is -z, east +x.
    const double heading = std::atan2(camera.direction.x, -camera.direction.z) * DEGREES_PER_RADIAN;
    facts.camera.headingDegrees = heading < 0.0 ? heading + 360.0 : heading;

    if (windowWidth > 0.0 && windowHeight > 0.0) {
        const mat4& modelview = application.modelview;
        const mat4& projection = application.projection;
        const Ray underCursor = cursorRay(cursorX, cursorY, windowWidth, windowHeight, modelview, projection);
        if (const std::optional<GroundHit> hit = terrain.pick(underCursor.origin, underCursor.direction)) {
            facts.cursor = terrain.describe(hit->point);
        }
        // A pixel at the centre spans the view's height at the ground's distance over the window's.
        const Ray centre = cursorRay(0.5 * windowWidth, 0.5 * windowHeight, windowWidth, windowHeight, modelview,
                                     projection);
        if (const std::optional<GroundHit> hit = terrain.pick(centre.origin, centre.direction)) {
            const double worldPerPixel = 2.0 * double(hit->distance) / (double(projection[1][1]) * windowHeight);
            const double groundPerWorld =
                terrain.elevation ? terrain.elevation->columnMetres / double(geometry.columnSpacing) : 1.0;
            facts.groundPerPixel = worldPerPixel * groundPerWorld;
        }
    }

    facts.frameSeconds = application.frameSeconds;
    if (terrain.stream) {
        const TerrainStream::Activity activity = terrain.stream->activity();
        facts.tiles = PanelTiles{activity.wanted, activity.loading, activity.held, activity.heldMegabytes,
                                 activity.cacheMegabytes};
    }
    facts.message = application.lastOpenMessage;
    facts.hasElevation = terrain.hasElevation();
    facts.hasErrorBudget = terrain.lod != nullptr || terrain.stream != nullptr;
    facts.sun = application.sun;
    if (const SavedViews* views = application.savedViews.get()) {
        facts.views = PanelViews{views->views(), views->freeNumber(), views->problem()};
    }
    return facts;
}
