// The settings that change while the program runs: where each lives, and what a change of it must
// redo.
#include "app/ViewSettings.h"

#include <iostream>
#include <memory>
#include <string>

#include "app/Application.h"
#include "app/Callbacks.h"
#include "gpu/DepthConvention.h"
#include "math/Camera.h"
#include "post/FinalProcessingEffect.h"
#include "post/Framebuffer.h"
#include "scene/Skydome.h"
#include "scene/Terrain.h"
#include "scene/TerrainLod.h"
#include "scene/TerrainStream.h"
#include "scene/TrackLine.h"
#include "ui/PathMeasuring.h"

namespace {

// The view distance's projection, fog, sky and depth convention.
void placeFarPlane(Application& app, float viewDistance) {
    app.terrainOptions.viewDistance = viewDistance;
    if (app.skydome) app.skydome->setViewDistance(viewDistance);
    const DepthConvention convention = chooseDepthConvention(viewDistance, TerrainOptions().viewDistance);
    if (convention != app.depthConvention) {
        app.depthConvention = convention;
        applyDepthConvention(convention);
        // Its depth attachment takes the convention's format.
        Framebuffer& scene = *app.mainFramebuffer;
        scene.resize(scene.width, scene.height);
    }
    if (app.outputWidth > 0 && app.outputHeight > 0) app.projection = windowProjection(app.outputWidth, app.outputHeight);
}

// Reads the map again for a sea below the one its samples were raised to, keeping the view where
// it is; false, with the terrain left as it was, when the file cannot be read again.
bool rereadForSea(Application& app, const TerrainOptions& changed) {
    Camera& camera = *app.camera;
    const vec3 position = camera.position, direction = camera.direction;
    std::string message;
    std::unique_ptr<Terrain> reread = app.terrain->reread(changed, message);
    camera.position = position;
    camera.direction = direction;
    if (!reread) {
        std::cerr << app.programName() << ": could not read " << app.terrain->name()
                  << " again for the lower sea: " << message << "; its ground below the old sea stays level"
                  << std::endl;
        return false;
    }
    app.terrain = std::move(reread);
    app.lightTerrain();
    // The path lies on the same map, over ground that may have come to light.
    if (app.pathMeasuring) app.pathMeasuring->layOver(*app.terrain);
    if (app.trackLine) app.trackLine->layOver(*app.terrain);
    return true;
}

}  // namespace

ViewSettings viewSettingsOf(const Application& app) {
    const Terrain& terrain = *app.terrain;
    ViewSettings settings;
    settings.exaggeration = terrain.exaggeration();
    settings.seaLevelMetres = terrain.seaLevel();
    settings.snowLineMetres = terrain.snowLine;
    settings.viewDistance = app.terrainOptions.viewDistance;
    settings.errorPixels = terrain.lod      ? terrain.lod->errorPixels
                           : terrain.stream ? terrain.stream->errorPixels
                                            : app.terrainOptions.lodErrorPixels;
    settings.shadingMode = app.terrainMode;
    settings.view = app.finalProcessingEffect->debugMode;
    settings.bloomGain = app.finalProcessingEffect->bloomGain;
    settings.bloomThreshold = terrain.bloomThreshold;
    settings.cameraSpeed = app.camera->moveSpeed;
    if (app.sun) settings.sunTime = app.sun->time;
    return settings;
}

void applyViewSettings(Application& app, const ViewSettings& settings) {
    const ViewSettings current = viewSettingsOf(app);
    TerrainOptions& options = app.terrainOptions;
    // A sea lower than the one the samples were read with needs them as the file has them.
    if (settings.seaLevelMetres != current.seaLevelMetres && app.terrain->hasElevation() &&
        app.terrain->seaNeedsRereading(settings.seaLevelMetres)) {
        TerrainOptions changed = options;
        changed.exaggeration = settings.exaggeration;
        changed.hasSea = settings.seaLevelMetres.has_value();
        changed.seaLevelMetres = settings.seaLevelMetres.value_or(options.seaLevelMetres);
        changed.snowLineMetres = settings.snowLineMetres;
        if (rereadForSea(app, changed)) options = changed;
    }
    Terrain& terrain = *app.terrain;
    if (settings.exaggeration != current.exaggeration) {
        terrain.setExaggeration(settings.exaggeration);
        options.exaggeration = settings.exaggeration;
    }
    // An image map's sea stays at height 0.
    if (settings.seaLevelMetres != current.seaLevelMetres && terrain.hasElevation()) {
        terrain.setSeaLevel(settings.seaLevelMetres);
        options.hasSea = settings.seaLevelMetres.has_value();
        options.seaLevelMetres = settings.seaLevelMetres.value_or(options.seaLevelMetres);
    }
    if (settings.snowLineMetres != current.snowLineMetres) {
        terrain.snowLine = static_cast<float>(settings.snowLineMetres);
        options.snowLineMetres = settings.snowLineMetres;
    }
    if (settings.errorPixels != current.errorPixels) {
        if (terrain.lod) terrain.lod->errorPixels = settings.errorPixels;
        if (terrain.stream) terrain.stream->errorPixels = settings.errorPixels;
        options.lodErrorPixels = settings.errorPixels;
    }
    if (settings.viewDistance != current.viewDistance) placeFarPlane(app, settings.viewDistance);
    if (settings.shadingMode != current.shadingMode) {
        // As the number keys choose the mode and its program.
        app.terrainMode = settings.shadingMode;
        terrain.shader = app.terrainShaders[settings.shadingMode - 1].get();
    }
    app.finalProcessingEffect->debugMode = settings.view;
    app.finalProcessingEffect->bloomGain = settings.bloomGain;
    terrain.bloomThreshold = settings.bloomThreshold;
    app.camera->moveSpeed = settings.cameraSpeed;
    if (settings.sunTime && current.sunTime && settings.sunTime->utcSeconds != current.sunTime->utcSeconds) {
        app.setSun(atTime(*app.sun, *settings.sunTime));
    }
}
