// The landscape: reads the map, settles how it is drawn (full mesh, level of detail or streamed
// from its pyramid) and where its samples lie, builds the material atlas, the drape and the
// camera's start pose, and draws the chosen surface in the current shading mode.
#include "scene/Terrain.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <future>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gpu/TextureUnits.h"
#include "app/Application.h"
#include "app/StartupWork.h"
#include "io/Fatal.h"
#include "io/BitmapFormat.h"
#include "gpu/Texture.h"
#include "io/DataPath.h"
#include "io/Drape.h"
#include "io/Pyramid.h"
#include "light/Sunlight.h"
#include "light/TerrainShadows.h"
#include "math/Camera.h"
#include "scene/ShadowGrids.h"
#include "scene/Skydome.h"
#include "scene/TerrainArguments.h"
#include "scene/TerrainFullMesh.h"
#include "scene/TerrainLod.h"
#include "scene/TerrainShader.h"
#include "scene/TerrainStream.h"

namespace {

const char* const MATERIAL_FILES[9] = {
    "Textures\\Water.bmp",   "Textures\\Grass.bmp", "Textures\\Rock3.bmp",
    "Textures\\Rock4.bmp",   "Textures\\Pebbles1.bmp", "Textures\\Snow.bmp",
    "Textures\\Snow2.bmp",   "Textures\\GrassDry.bmp", "Textures\\Water_Normal.bmp",
};

// The longest side of a map drawn whole: one texture of this GPU holds it, and the readers read it
// at once. Longer maps always stream.
int largestWholeSide() {
    GLint largestTexture = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largestTexture);
    return std::min(static_cast<int>(largestTexture), MAX_BITMAP_SIDE);
}


// Where a map's level-of-detail tree is kept beside its pyramid, and what else it depends on: the
// way of building it and the options its samples were read by.
const char* const LOD_TREE_NAME = "lod-tree";
std::string lodTreeKey(const ElevationOptions& read) {
    char key[128];
    std::snprintf(key, sizeof key, "1, nodes of %d quads, voids %s, sea %s at %a", TerrainLodTree::GRID_QUADS,
                  read.fillVoids ? "filled" : "kept", read.hasSea ? "on" : "off", read.seaLevelMetres);
    return key;
}

}  // namespace

struct Terrain::CommandLineMap {
    std::unique_ptr<HeightMapFile> map;
    TerrainArguments arguments;

    // The map the command line names, opened once: its header first (which may wait for a server),
    // its samples from the same opening once it is known how it is drawn.
    static CommandLineMap open() {
        Application& application = Application::instance();
        CommandLineMap opened;
        std::string message;
        if (!parseTerrainArguments(application.argc, application.argv, opened.arguments, message)) fatal(message);
        // A typed path is read as given first; the default map is the data set's.
        const std::string& name = opened.arguments.heightMapPath;
        const std::string file = application.argc > 1 ? resolveTypedPath(name) : resolveDataPath(name);
        const ElevationOptions read = elevationOptionsOf(application.terrainOptions);
        runWhileResponsive(application.window,
                           [&](const StartupProgress&) { opened.map = HeightMapFile::open(file, read, message); });
        if (!opened.map) fatal("Could not load heightmap: " + message, describeLookup(name, file));
        return opened;
    }
};

Terrain::Terrain(TerrainShader* shader) : Terrain(shader, CommandLineMap::open()) {}

Terrain::Terrain(TerrainShader* shader, CommandLineMap&& opened)
    : Terrain(shader, std::move(opened.map), opened.arguments, Application::instance().terrainOptions) {}

Terrain::Terrain(TerrainShader* shader, const TerrainArguments& arguments, const TerrainOptions& options)
    : horizontalScale(arguments.horizontalScale),
      heightScale(arguments.heightScale),
      shader(shader),
      options(options),
      mapName(arguments.heightMapPath) {}

Terrain::Terrain(TerrainShader* shader, std::unique_ptr<HeightMapFile> map, const TerrainArguments& arguments,
                 const TerrainOptions& options)
    : Terrain(shader, arguments, options) {
    const std::string file = map->path;
    std::string message;
    if (!build(std::move(map), arguments.heightScaleGiven, message)) {
        fatal("Could not load heightmap: " + message, describeLookup(mapName, file));
    }
}

std::unique_ptr<Terrain> Terrain::open(TerrainShader* shader, std::unique_ptr<HeightMapFile> map,
                                       const std::string& name, const TerrainOptions& options, std::string& message) {
    TerrainArguments arguments;
    arguments.heightMapPath = name;
    TerrainOptions undraped = options;
    undraped.drapePath.clear();
    // make_unique cannot reach the private constructor.
    std::unique_ptr<Terrain> terrain(new Terrain(shader, arguments, undraped));
    // No height scale is given, so the refusal of one for an elevation map cannot end the program.
    if (!terrain->build(std::move(map), false, message)) return nullptr;
    return terrain;
}

bool Terrain::build(std::unique_ptr<HeightMapFile> map, bool heightScaleGiven, std::string& message) {
    mapFile = map->path;
    gridWidth = map->width;
    gridHeight = map->height;
    Placement placed;
    surface = makeSurface(*map, heightScaleGiven, placed, message);
    if (!surface) return false;
    map.reset();
    // Image maps keep their sea at height 0 and start from their height scale as given.
    if (elevation) {
        placedExaggeration = options.exaggeration;
        if (options.hasSea) placedSeaLevel = options.seaLevelMetres;
    } else {
        placedSeaLevel = 0.0;
    }
    Application::instance().startupPhaseEnded("mesh build");
    // The shadows' worker reads the heights and gathers the sky's share, which needs no sun, while
    // the atlas, the sky and the first frame are made.
    if (options.isSunPlaced() && options.areShadowsWanted()) makeShadows();
    finishStartUp(placed);
    return true;
}

std::unique_ptr<TerrainSurface> Terrain::makeSurface(HeightMapFile& map, bool heightScaleGiven, Placement& placed,
                                                     std::string& message) {
    // A map larger than one texture can hold is drawn from its pyramid of tiles, as any map can be.
    if (options.stream || std::max(map.width, map.height) > largestWholeSide()) {
        return makeStreamedSurface(map, heightScaleGiven, placed, message);
    }
    return makeWholeSurface(map, heightScaleGiven, placed, message);
}

std::unique_ptr<TerrainSurface> Terrain::makeWholeSurface(HeightMapFile& file, bool heightScaleGiven,
                                                          Placement& placed, std::string& message) {
    Application& application = Application::instance();
    // How the map is drawn is settled from its size before its samples are read, so that a map no
    // way can draw is refused at once, in one line that says why.
    bool withLevelOfDetail = options.levelOfDetail;
    if (!withLevelOfDetail && !terrainGridFits(gridWidth, gridHeight)) {
        fallbackReason = tooLargeLine("one mesh", gridWidth, gridHeight,
                                      "more than 32-bit vertex and index counts can draw");
        withLevelOfDetail = true;
    }
    // The mesh's buffers are had before the samples are read, so that a map whose mesh cannot be
    // allocated gives way to level of detail, or is refused, without being read first.
    std::unique_ptr<TerrainFullMesh> fullMesh;
    if (!withLevelOfDetail) {
        fullMesh = TerrainFullMesh::allocate(gridWidth, gridHeight, mapName, message);
        if (!fullMesh) fallbackReason = message;
    }

    HeightSamples map;
    // Level of detail reads a raw map's samples from the file as it builds, so that they never lie
    // in memory whole beside its texture.
    const RawSamples raw = fullMesh ? RawSamples::Read : RawSamples::LeftInFile;
    bool loaded = false;
    runWhileResponsive(application.window, [&](const StartupProgress&) { loaded = file.read(raw, map, message); });
    if (!loaded) return nullptr;
    application.startupPhaseEnded("height map load");

    geometry = mapGeometry(map.elevation, map.largestValue, heightScaleGiven);
    elevation = map.elevation;
    largestValue = map.largestValue;

    if (fullMesh && !fullMesh->fill(map, geometry, *shader)) {
        fullMesh.reset();
        fallbackReason = "Could not fill the terrain buffers for height map " + mapName;
    }
    if (!fallbackReason.empty()) {
        fallbackReason += "; drawing it with level of detail";
        std::cout << fallbackReason << std::endl;
    }
    // A raw map left in its file is measured for picking from the file while level of detail fills
    // its texture, which the driver first spends as long zeroing; every other map gives its samples
    // to picking once they are drawn.
    std::string heightsFailure;
    std::future<std::unique_ptr<WholeMapHeights>> rawHeights;
    if (map.rawFile) {
        rawHeights = std::async(std::launch::async,
                                [&map, &heightsFailure] { return WholeMapHeights::take(map, heightsFailure); });
    }
    std::unique_ptr<TerrainSurface> made;
    if (fullMesh) {
        mesh = fullMesh.get();
        made = std::move(fullMesh);
    } else {
        // Building the tree costs many times reading the map, so it is kept for the next start.
        const std::string cacheFolder = pyramidCacheFolder();
        const std::string treeKey = lodTreeKey(file.options);
        std::unique_ptr<TerrainLod> detailed =
            TerrainLod::create(map, geometry, options.lodErrorPixels,
                               keptMapFacts(cacheFolder, file, LOD_TREE_NAME, treeKey), message);
        if (!detailed) return nullptr;
        if (!detailed->treeWasKept()) keepMapFacts(cacheFolder, file, LOD_TREE_NAME, treeKey, detailed->tree.kept());
        lod = detailed.get();
        made = std::move(detailed);
        std::cout << "Level of detail: " << lod->tree.levelCount() << " levels over " << gridWidth << " x "
                  << gridHeight << " samples, at most " << lod->errorPixels
                  << (lod->errorPixels == 1.0f ? " pixel" : " pixels") << " of geometric error" << std::endl;
    }

    placed.startHeight = heightScale;
    if (!map.elevation) {
        uint16_t lowest = 0, highest = 0;
        // Level of detail knows its range from its tree; a mesh's samples are at hand.
        if (lod) {
            lod->tree.valueRange(lowest, highest);
        } else {
            sampleRange(map, lowest, highest);
        }
        lowestValue = lowest;
        highestValue = highest;
        isValueRangeKnown = true;
    }
    if (map.elevation) {
        std::cout << elevationMapLine(map, horizontalScale, options.exaggeration) << std::endl;
        if (map.elevation->voidCount > 0) std::cout << noDataLine(map) << std::endl;
        uint16_t lowest = 0, highest = 0;
        sampleRange(map, lowest, highest);
        placed.startHeight = placeHeights(static_cast<float>(lowest), static_cast<float>(highest));
    }
    // Picking walks the samples drawn; the log above has said what it says of them.
    wholeHeights = rawHeights.valid() ? rawHeights.get() : WholeMapHeights::take(map, heightsFailure);
    if (!wholeHeights) {
        message = heightsFailure;
        return nullptr;
    }
    // A drape is laid over where the map lies, or stretched over a map that does not say.
    placed.grid = map.elevation ? map.elevation->grid : RasterGrid{map.width, map.height, {}, {}};
    return made;
}

std::unique_ptr<TerrainSurface> Terrain::makeStreamedSurface(HeightMapFile& map, bool heightScaleGiven,
                                                             Placement& placed, std::string& message) {
    Application& application = Application::instance();
    std::unique_ptr<TileSource> source;
    // Building a pyramid takes minutes for the largest maps; the window shows how far it has come.
    runWhileResponsive(application.window, [&](const StartupProgress& shown) {
        const PyramidProgress printed = pyramidProgressBar(application.programName(), mapName);
        const PyramidProgress progress = [&](double done) { return printed(done) && shown(done); };
        source = openTileSource(map, pyramidCacheFolder(), progress, message);
    });
    if (!source) return nullptr;
    const TileMap tiles = source->map();
    if (tiles.levels.front().width != gridWidth || tiles.levels.front().height != gridHeight) {
        message = "the file changed while it was read";
        return nullptr;
    }
    application.startupPhaseEnded("height map load");

    geometry = mapGeometry(tiles.elevation, tiles.largestValue, heightScaleGiven);
    elevation = tiles.elevation;
    largestValue = tiles.largestValue;
    // The coarsest tiles are read before the first frame, from a server perhaps.
    std::unique_ptr<TerrainStream> streamed;
    {
        StartupWait wait(application.window);
        streamed = TerrainStream::create(std::move(source), geometry, options.lodErrorPixels,
                                         TerrainStream::cacheLayersFor(options.tileCacheMegabytes, tiles),
                                         [&wait] { wait.poll(0.0, std::chrono::milliseconds(1)); }, message);
    }
    if (!streamed) return nullptr;
    stream = streamed.get();
    std::cout << "Streaming: " << gridWidth << " x " << gridHeight << " samples in tiles of " << tiles.tileQuads
              << ", " << tiles.levels.size() << " levels, from " << tiles.pyramid << " (cache "
              << stream->cacheSize() << ")" << std::endl;

    placed.startHeight = heightScale;
    if (tiles.elevation) {
        // The map's description without its samples, which are never read whole.
        HeightSamples described;
        described.width = gridWidth;
        described.height = gridHeight;
        described.elevation = tiles.elevation;
        std::cout << elevationMapLine(described, horizontalScale, options.exaggeration) << std::endl;
        // Tile values are metres.
        placed.startHeight = placeHeights(static_cast<float>(tiles.elevation->minimumMetres),
                                          static_cast<float>(tiles.elevation->maximumMetres));
    }
    placed.grid = tiles.elevation ? tiles.elevation->grid : RasterGrid{gridWidth, gridHeight, {}, {}};
    return streamed;
}

float Terrain::placeHeights(float lowest, float highest) {
    snowLine = static_cast<float>(options.snowLineMetres);
    hasSea = options.hasSea;
    lowestValue = lowest;
    highestValue = highest;
    isValueRangeKnown = true;
    fitGreyRange();
    return geometry.heightOf(highestValue);
}

std::optional<vec2> Terrain::heightRange() const {
    if (!isValueRangeKnown) return std::nullopt;
    return vec2{geometry.heightOf(lowestValue), geometry.heightOf(highestValue)};
}

void Terrain::fitGreyRange() {
    const float lowestHeight = geometry.heightOf(lowestValue);
    const float highestHeight = geometry.heightOf(highestValue);
    // Grey measures height above the sea where there is one; a flat map shows as white.
    greyRange.x = hasSea ? 0.0f : lowestHeight;
    greyRange.y = highestHeight > greyRange.x ? highestHeight : greyRange.x + 1.0f;
}

TerrainGeometry Terrain::mapGeometry(const std::optional<Elevation>& elevation, uint16_t largestValue,
                                     bool heightScaleGiven) const {
    if (!elevation) return imageMapGeometry(horizontalScale, heightScale, largestValue);
    if (heightScaleGiven) {
        fatal("A height scale does not apply to elevation map " + mapName + ": its heights are metres; use --exaggeration");
    }
    return elevationMapGeometry(*elevation, horizontalScale, options.exaggeration,
                                options.hasSea ? options.seaLevelMetres : 0.0);
}

void Terrain::finishStartUp(const Placement& placed) {
    Application& application = Application::instance();
    atlas = std::make_unique<TextureAtlas>(9, MATERIAL_FILES);
    mapGrid = placed.grid;
    if (!options.drapePath.empty()) loadDrape(options.drapePath);
    application.startupPhaseEnded("atlas");
    coordinates = std::make_unique<MapCoordinates>(placed.grid);

    Camera* camera = application.camera.get();
    camera->position = vec3{0.0f, placed.startHeight, 0.0f};
    const float inverseRootTwo = 1.0f / sqrtSingle(2.0f);
    camera->direction = vec3{inverseRootTwo, 0.0f, -inverseRootTwo};
}

void Terrain::reportLostTiles() {
    const std::optional<std::string> failure = stream->readFailure();
    if (!failure) return;
    // A map behind a network path is named by its address.
    const size_t scheme = mapName.find("://");
    const size_t address = scheme == std::string::npos ? 0 : mapName.rfind('/', scheme) + 1;
    const std::string program = Application::instance().programName();
    if (isGdalVirtualPath(mapName) && scheme != std::string::npos) {
        std::cerr << program << ": lost the connection to " << mapName.substr(address) << ": " << *failure
                  << "; drawing the tiles already loaded" << std::endl;
    } else {
        std::cerr << program << ": could not read " << mapName << ": " << *failure
                  << "; drawing the tiles already loaded" << std::endl;
    }
}

void Terrain::loadDrape(const std::string& path) {
    const std::string file = resolveTypedPath(path);
    DrapeImage picture;
    std::string message;
    if (!readDrape(file, picture, message)) {
        fatal("Could not load drape: " + message, describeLookup(path, file));
    }
    if (picture.rgba.empty()) {
        std::cerr << Application::instance().programName() << ": " << message << "; drawing the map without it: "
                  << path << std::endl;
        return;
    }
    setDrape(picture.width, picture.height, picture.rgba.data());
}

std::unique_ptr<Terrain> Terrain::reread(const TerrainOptions& changed, std::string& message) {
    std::unique_ptr<HeightMapFile> map;
    runWhileResponsive(Application::instance().window, [&](const StartupProgress&) {
        map = HeightMapFile::open(mapFile, elevationOptionsOf(changed), message);
    });
    if (!map) return nullptr;
    TerrainArguments arguments;
    arguments.heightMapPath = mapName;
    arguments.horizontalScale = horizontalScale;
    arguments.heightScale = heightScale;
    TerrainOptions undraped = changed;
    undraped.drapePath.clear();
    std::unique_ptr<Terrain> terrain(new Terrain(shader, arguments, undraped));
    if (!terrain->build(std::move(map), false, message)) return nullptr;
    terrain->drape = std::move(drape);
    terrain->bloomThreshold = bloomThreshold;
    return terrain;
}

bool Terrain::openDrape(const std::string& file, std::string& message) {
    DrapeImage picture;
    // A picture off the map says so in the message.
    if (!readDrape(file, picture, message) || picture.rgba.empty()) return false;
    setDrape(picture.width, picture.height, picture.rgba.data());
    return true;
}

bool Terrain::readDrape(const std::string& file, DrapeImage& picture, std::string& message) const {
    // No bands given (zeros): the colours the picture declares.
    const std::array<int, 3>& given = options.drapeBands;
    const std::vector<int> bands = given[0] == 0 ? std::vector<int>() : std::vector<int>(given.begin(), given.end());
    GLint largestSide = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largestSide);
    bool loaded = false;
    // A large drape is warped for seconds.
    runWhileResponsive(Application::instance().window, [&](const StartupProgress&) {
        loaded = ::loadDrape(file, mapGrid, bands, largestSide, picture, message);
    });
    return loaded;
}

void Terrain::setDrape(int width, int height, const uint8_t* rgba) {
    drape = std::make_unique<Texture>(width, height, rgba);
}

Terrain::~Terrain() = default;

uint64_t Terrain::trianglesPerFrame() const { return surface->primitiveCount(); }

bool Terrain::isSettled() const { return surface->isSettled() && (!shadows || shadows->isSettled()); }

StreamCounters Terrain::streamCounters() const { return surface->streamCounters(); }

const GroundHeights& Terrain::groundHeights() const {
    if (stream) return stream->heldHeights();
    return *wholeHeights;
}

std::optional<GroundHit> Terrain::pick(const vec3& origin, const vec3& direction) const {
    return groundHeights().pick(geometry, origin, direction);
}

std::optional<float> Terrain::heightAt(float x, float z) const {
    double column = 0.0, row = 0.0;
    mapPointOf(geometry, gridHeight, x, z, column, row);
    const std::optional<GroundSample> sample = groundHeights().sampleAt(column, row);
    if (!sample || !sample->hasData) return std::nullopt;
    return static_cast<float>(double(geometry.heightOffset) + sample->value * double(geometry.heightPerValue));
}

GroundPoint Terrain::describe(const vec3& worldPoint) const {
    return describeGroundPoint(groundHeights(), geometry, elevation, *coordinates, worldPoint);
}

bool Terrain::settleWithoutDrawing(int viewportHeight, std::chrono::steady_clock::time_point deadline) {
    prepareShadows();
    if (shadows && !shadows->settle(deadline)) return false;
    if (!stream) return true;
    // The longest the readers are waited on before the view asks them again: a failed read is only
    // tried again when asked, and the deadline is looked at in between.
    constexpr std::chrono::milliseconds LONGEST_WAIT{100};
    const TerrainView view = applicationView(viewportHeight);
    for (;;) {
        const bool complete = stream->takeArrivals(view);
        reportLostTiles();
        if (complete) break;
        if (std::chrono::steady_clock::now() > deadline) return false;
        stream->awaitArrivals(LONGEST_WAIT);
    }
    stream->finishFades();
    return true;
}

TerrainView Terrain::applicationView(int viewportHeight) const {
    const Application& application = Application::instance();
    TerrainView view;
    view.modelview = application.modelview;
    view.projection = application.projection;
    view.eye = application.camera->position;
    view.viewportHeight = viewportHeight;
    view.time = static_cast<float>(application.time);
    view.mode = application.terrainMode;
    view.zeroToOneDepth = application.depthConvention == DepthConvention::Reversed;
    return view;
}

void Terrain::draw() {
    Application& application = Application::instance();
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    const TerrainView view = applicationView(viewport[3]);

    TerrainShader& active = surface->program(view.mode, *shader);
    glUseProgram(active.program);

    glUniformMatrix4fv(active.modelviewLocation, 1, GL_FALSE, view.modelview.data());
    glUniformMatrix4fv(active.projectionLocation, 1, GL_FALSE, view.projection.data());

    glUniform1i(active.hasDrapeLocation, drape != nullptr);
    glUniform1i(active.drapeLocation, DRAPE_UNIT);
    if (drape) {
        glActiveTexture(GL_TEXTURE0 + DRAPE_UNIT);
        glBindTexture(GL_TEXTURE_2D, drape->id);
    }
    glActiveTexture(GL_TEXTURE0 + MATERIALS_UNIT);
    glBindTexture(GL_TEXTURE_2D_ARRAY, atlas->id);
    glUniform1i(active.texLocation, MATERIALS_UNIT);

    glUniform1f(active.tLocation, view.time);
    glUniform3f(active.viewerPositionLocation, view.eye.x, view.eye.y, view.eye.z);
    // The fog of the programs drawn without a sun; under one the air takes its place, and the
    // program has no sky dome.
    if (application.skydome) {
        const vec4 skyData = application.skydome->skyData;
        glUniform4f(active.skyDataLocation, skyData.x, skyData.y, skyData.z, skyData.w);
    }

    mat3 material;
    material[0] = vec3{0.05f, 0.05f, 0.05f};
    material[1] = vec3{1.0f, 1.0f, 1.0f};
    material[2] = vec3{1.5f, 1.5f, 1.5f};
    glUniformMatrix3fv(active.materialLocation, 1, GL_FALSE, material.data());

    mat3 light;
    light[0] = vec3{1.0f, 0.98f, 0.9f};
    light[1] = vec3{static_cast<float>(gridWidth) * geometry.columnSpacing * 0.5f, 50.0f,
                    static_cast<float>(gridHeight) * geometry.rowSpacing * -0.5f};
    glUniformMatrix3fv(active.lightsLocation, 1, GL_FALSE, light.data());

    glUniform1f(active.bloomThresholdLocation, bloomThreshold);
    glUniform1f(active.metresPerHeightLocation, geometry.metresPerHeight);
    glUniform1f(active.snowLineLocation, snowLine);
    glUniform1i(active.hasSeaLocation, hasSea);
    glUniform2f(active.greyRangeLocation, greyRange.x, greyRange.y);
    glUniform2i(active.mapSizeLocation, gridWidth, gridHeight);
    glUniform2f(active.sampleSpacingLocation, geometry.columnSpacing, geometry.rowSpacing);
    glUniform1f(active.lowestHeightLocation, geometry.lowestHeight);

    if (active.sunDirectionLocation >= 0) setSunUniforms(active);

    surface->draw(view, active);
    if (stream) reportLostTiles();

    glBindVertexArray(0);
    glUseProgram(0);
}

TerrainGeometry Terrain::placedGeometry() const {
    // An image map's height scale is what its exaggeration scales.
    if (!elevation) {
        return imageMapGeometry(horizontalScale, heightScale * static_cast<float>(placedExaggeration), largestValue);
    }
    TerrainGeometry placed =
        elevationMapGeometry(*elevation, horizontalScale, placedExaggeration, placedSeaLevel.value_or(0.0));
    // The samples hold the ground down to the start-up sea, or all of it without one: a higher sea
    // covers what lies below it there.
    const bool raised = placedSeaLevel && (!options.hasSea || *placedSeaLevel > options.seaLevelMetres);
    if (raised) placed.lowestHeight = 0.0f;
    return placed;
}

TerrainOnMap Terrain::onMap() const {
    TerrainOnMap placed;
    placed.columnSpacing = geometry.columnSpacing;
    placed.rowSpacing = geometry.rowSpacing;
    if (elevation) {
        placed.grid = elevation->grid;
        placed.metresPerWorldUnit = elevation->columnMetres / double(geometry.columnSpacing);
        placed.metresPerHeight = geometry.metresPerHeight;
        // Height 0 is the sea's level, or 0 m without a sea.
        placed.seaLevelMetres = elevation->lowestMetres - double(geometry.heightOffset) * geometry.metresPerHeight;
    } else {
        placed.grid.width = gridWidth;
        placed.grid.height = gridHeight;
    }
    return placed;
}

std::optional<std::array<double, 2>> Terrain::centreLatitudeLongitude() const {
    const vec3 centre{0.5f * static_cast<float>(gridWidth - 1) * geometry.columnSpacing, 0.0f,
                      -0.5f * static_cast<float>(gridHeight - 1) * geometry.rowSpacing};
    return describe(centre).latitudeLongitude;
}

void Terrain::setSun(const std::optional<SunPosition>& position, bool shadowsCast, const Atmosphere* air) {
    sun = position;
    castsShadows = shadowsCast;
    atmosphere = air;
    if (!castsShadows) shadows.reset();
    // The worker sweeps for the new sun at once, not from the next frame on.
    prepareShadows();
}

void Terrain::makeShadows() {
    // The worker ends before the heights go: the shadows are destroyed first.
    if (stream) {
        // The stream's loader does all the work its heights need beside the frames.
        shadows = std::make_unique<TerrainShadows>(
            streamedShadowHeights(stream->tileSource(), geometry), TerrainShadows::LARGEST_STREAMED_SIDE,
            [this](std::function<void()> work) { stream->runInBackground(std::move(work)); });
    } else {
        shadows = std::make_unique<TerrainShadows>(wholeMapShadowHeights(*wholeHeights, geometry),
                                                   TerrainShadows::LARGEST_SIDE);
    }
}

void Terrain::prepareShadows() {
    if (!sun || !castsShadows) return;
    if (!shadows) makeShadows();
    shadows->faceSun(sun->azimuthDegrees, sun->altitudeDegrees);
    const vec3 eye = Application::instance().camera->position;
    shadows->followCamera(eye.x / geometry.columnSpacing, -eye.z / geometry.rowSpacing);
}

void Terrain::setSunUniforms(const TerrainShader& program) {
    // Without a sun the sunlit programs light by one at the zenith, unshadowed.
    const vec3 towardsSun = sun ? sunDirection(*sun) : vec3{0.0f, 1.0f, 0.0f};
    if (atmosphere) atmosphere->bindTables(program.atmosphereLocations);
    glUniform3f(program.sunDirectionLocation, towardsSun.x, towardsSun.y, towardsSun.z);
    prepareShadows();
    const bool shadowed = shadows && shadows->bind();
    glUniform1i(program.hasShadowsLocation, shadowed);
    glUniform1i(program.sunSharesLocation, SUN_SHARES_UNIT);
    glUniform1i(program.skyVisibilityLocation, SKY_VISIBILITY_UNIT);
    if (shadowed) {
        std::array<GLfloat, 3 * TerrainShadows::LAYERS> places{};
        std::array<GLfloat, 4 * TerrainShadows::LAYERS> reaches{};
        const std::vector<ShadowLayerPlace>& layers = shadows->sunLayers();
        for (size_t layer = 0; layer < layers.size(); ++layer) {
            const ShadowLayerPlace& place = layers[layer];
            places[3 * layer] = place.firstColumn;
            places[3 * layer + 1] = place.firstRow;
            places[3 * layer + 2] = place.step;
            std::copy(place.reach.begin(), place.reach.end(), &reaches[4 * layer]);
        }
        glUniform1i(program.sunLayerCountLocation, static_cast<GLint>(layers.size()));
        glUniform3fv(program.sunLayerPlacesLocation, TerrainShadows::LAYERS, places.data());
        glUniform4fv(program.sunLayerReachLocation, TerrainShadows::LAYERS, reaches.data());
        const ShadowLayerPlace& sky = shadows->skyPlace();
        glUniform3f(program.skyPlaceLocation, sky.firstColumn, sky.firstRow, sky.step);
    }
    glUniform1f(program.metresPerUnitLocation, static_cast<float>(metresPerWorldUnit()));
}

double Terrain::metresPerWorldUnit() const {
    // An image map has no ground scale of its own: its samples are taken to lie as far apart as a
    // one-second elevation model's.
    constexpr double IMAGE_MAP_METRES_PER_SAMPLE = 30.0;
    return elevation ? metresPerUnit(*elevation, horizontalScale) : IMAGE_MAP_METRES_PER_SAMPLE / double(horizontalScale);
}

double Terrain::altitudeInMetres(const vec3& worldPoint) const {
    const double metresPerHeight = geometry.metresPerHeight > 0.0f ? geometry.metresPerHeight : metresPerWorldUnit();
    return std::max(double(worldPoint.y) * metresPerHeight, 0.0);
}

void Terrain::replaceHeights() {
    // The shadows follow the heights.
    shadows.reset();
    geometry = placedGeometry();
    surface->placeHeights(geometry);
    if (!elevation) return;
    hasSea = placedSeaLevel.has_value();
    fitGreyRange();
}

void Terrain::setExaggeration(double exaggeration) {
    placedExaggeration = exaggeration;
    replaceHeights();
}

void Terrain::setSeaLevel(std::optional<double> metres) {
    if (!elevation) return;
    placedSeaLevel = metres;
    replaceHeights();
}
