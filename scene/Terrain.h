// The landscape: the height map drawn as one full mesh, with level of detail or streamed from its
// pyramid of tiles, its material atlas, an optional draped picture, and the uniforms its shading reads.
#pragma once

#include <GL/glew.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/TerrainOptions.h"
#include "io/HeightMap.h"
#include "io/RasterSource.h"
#include "scene/TerrainArguments.h"
#include "io/MapCoordinates.h"
#include "io/MapGround.h"
#include "light/SolarPosition.h"
#include "math/Math.h"
#include "scene/GroundHeights.h"
#include "scene/TerrainGeometry.h"
#include "scene/TerrainSurface.h"

struct DrapeImage;
class Texture;
class TerrainFullMesh;
class TerrainLod;
class TerrainShader;
class TerrainStream;
class TextureAtlas;
class TerrainShadows;
class Atmosphere;

class Terrain {
public:
    static constexpr float DEFAULT_BLOOM_THRESHOLD = 0.3f;

    int gridWidth = 0;
    int gridHeight = 0;
    float horizontalScale = 1.0f;
    float heightScale = 20.0f;
    float bloomThreshold = DEFAULT_BLOOM_THRESHOLD;
    TerrainShader* shader = nullptr;
    std::unique_ptr<TextureAtlas> atlas;
    // Exactly one of the three is set: the full mesh, level of detail, or the streamed surface. The
    // terrain owns it as its surface; these say which it is.
    TerrainFullMesh* mesh = nullptr;
    TerrainLod* lod = nullptr;
    TerrainStream* stream = nullptr;
    // Why the terrain is drawn with level of detail although one mesh was asked for (the line the
    // program printed); empty when it is drawn as asked.
    std::string fallbackReason;
    // Where the samples are drawn in the world now: as built, or as setExaggeration and setSeaLevel
    // placed them since.
    TerrainGeometry geometry;
    // Metres where snow lies on an elevation map.
    float snowLine = 2500.0f;
    // Whether height 0 is the sea's surface: always for image maps.
    bool hasSea = true;
    // The heights that mode 3 shows as black and white.
    vec2 greyRange{0.0f, 20.0f};
    // The picture that colours the terrain instead of its materials; null for none.
    std::unique_ptr<Texture> drape;
    // What an elevation map says of its ground (spacing, elevation range, where it lies), kept for
    // placing its heights anew; unset for an image map.
    std::optional<Elevation> elevation;

    // Reads the command line, opens its map (a server's or a slow disk's wait keeps the window
    // responsive) and builds the terrain of it with the application's terrain options; a map that
    // cannot be drawn ends the program with its one line.
    explicit Terrain(TerrainShader* shader);
    // Builds the terrain of `map`, named `arguments.heightMapPath` as typed, drawn as its size and
    // `options` choose: uploads the surface, builds the atlas and the drape and places the camera.
    Terrain(TerrainShader* shader, std::unique_ptr<HeightMapFile> map, const TerrainArguments& arguments,
            const TerrainOptions& options);
    // Builds the terrain of a map opened while the program runs, named `name` in its lines, as the
    // constructor above does at the default scales, but for a map that cannot be drawn, which leaves
    // null and the reason (the constructor's line without "Could not load heightmap: ") in
    // `message`. The options' drape is not read: a picture is laid over the map with openDrape.
    static std::unique_ptr<Terrain> open(TerrainShader* shader, std::unique_ptr<HeightMapFile> map,
                                         const std::string& name, const TerrainOptions& options,
                                         std::string& message);
    // Releases everything the terrain holds: its GL objects (the context that made them must be
    // current), the background readers of a streamed map (a read under way is waited for) and its
    // memory.
    ~Terrain();
    Terrain(const Terrain&) = delete;
    Terrain& operator=(const Terrain&) = delete;

    // Colours the terrain with a picture of width x height RGBA texels (8 bits each) covering the
    // whole map, bottom row first, alpha its coverage; replaces any picture it had.
    void setDrape(int width, int height, const uint8_t* rgba);
    // Lays the picture in `file` (a path read as given) over the map, in the bands the options
    // choose, replacing any picture it had. False with the reason, the terrain left as it was, when
    // the picture cannot be read or lies off the map.
    bool openDrape(const std::string& file, std::string& message);
    // Whether a sea at `metres` (none: no sea) would show ground that the samples lost when they
    // were read: the ground below the sea they were read with was raised to it.
    bool seaNeedsRereading(std::optional<double> metres) const {
        return options.hasSea && (!metres || *metres < options.seaLevelMetres);
    }
    // The same map read again from its file under `changed` options, at the same scales, taking this
    // terrain's drape; null with the reason when it cannot be read. The camera is placed at the new
    // terrain's start pose, as every terrain built places it.
    std::unique_ptr<Terrain> reread(const TerrainOptions& changed, std::string& message);

    void draw();
    // For a still picture: brings a streamed map to the picture that frames of the current view,
    // drawn into a viewport `viewportHeight` pixels high, would settle on, without drawing them.
    // Takes in the tiles the view wants as they arrive, waiting on the readers in between, and then
    // ends the fades at once, so that the next frame is the settled one. False when `deadline`
    // passed with tiles still missing; the other surfaces are settled at once.
    bool settleWithoutDrawing(int viewportHeight, std::chrono::steady_clock::time_point deadline);

    // Triangles the last frame drew (in the point modes, points).
    uint64_t trianglesPerFrame() const;
    // Whether the last frame showed the finished picture: a streamed map may still be loading the
    // tiles it wanted, or fading them in, and the shadows may still be on their way; the other
    // surfaces are otherwise always settled.
    bool isSettled() const;
    StreamCounters streamCounters() const;
    // The map as typed.
    const std::string& name() const { return mapName; }
    // The file the map was read from (the data set's for the default map), which its saved views
    // are kept by.
    const std::string& file() const { return mapFile; }
    // The lowest and highest height drawn, in world units, where known.
    std::optional<vec2> heightRange() const;

    // The heights' settings, which change while the program runs and apply from the next frame on
    // every surface, as the same options given at start-up would. Heights times this: an elevation
    // map's over its true proportions; an image map's over its height scale, from 1 whatever the
    // command line said, since --exaggeration is for elevation maps.
    double exaggeration() const { return placedExaggeration; }
    // Whether the map is an elevation map, whose sea level and snow line mean something.
    bool hasElevation() const { return elevation.has_value(); }
    // Within (0, 1000], as --exaggeration takes it.
    void setExaggeration(double exaggeration);
    // An elevation map's sea level in metres, none for no sea; image maps always have their sea at
    // height 0, and ignore a change.
    std::optional<double> seaLevel() const { return placedSeaLevel; }
    // Within +-12000 m, as --sea-level takes it. The map was read with ground below the start-up sea
    // raised to it: a sea above that level covers ground as --sea-level would, while below it (or
    // with none) that ground shows as the flat land it was read as.
    void setSeaLevel(std::optional<double> metres);
    // Lights the terrain by the sun at `position` (none: the default scene's fixed light), casting
    // shadows and shading the hollows from the sky where `castsShadows` asks and the programs were
    // built sunlit (the sun is placed from start-up on). A map drawn whole computes its horizons
    // as soon as a sun needs them and again when the sun's azimuth or the heights change.
    // The atmosphere, when given, colours the sun's and the sky's light and the air before distant
    // ground; it must outlive the terrain's drawing with it.
    void setSun(const std::optional<SunPosition>& position, bool castsShadows, const Atmosphere* atmosphere);
    // Metres above the sea of a world point: an elevation map's by its metres, an image map's at
    // the ground scale its sunlight takes (see setSun).
    double altitudeInMetres(const vec3& worldPoint) const;

    // The ground under the cursor, found on the processor from the heights as they are drawn now:
    // the nearest point where the world ray (origin, unit direction) meets the surface drawn (of a
    // streamed map, its finest tiles held), none when it leaves the map without meeting it. Costs
    // a walk over the cells the ray crosses: cheap enough for every frame.
    std::optional<GroundHit> pick(const vec3& origin, const vec3& direction) const;
    // The height of the surface drawn at world (x, z), exact on its triangles; none off the map
    // or where the map has no data.
    std::optional<float> heightAt(float x, float z) const;
    // What the map says of the ground at a world point (its x and z): map coordinates, latitude and
    // longitude, elevation and slope; groundPointText words it.
    GroundPoint describe(const vec3& worldPoint) const;
    // Where the terrain's world lies over its map now, for measuring on it and laying tracks on it.
    TerrainOnMap onMap() const;
    // The latitude and longitude of the map's centre; none for a map without a place on the Earth.
    std::optional<std::array<double, 2>> centreLatitudeLongitude() const;

private:
    struct CommandLineMap;
    Terrain(TerrainShader* shader, CommandLineMap&& opened);
    // The scales, options and name alone: build makes the rest.
    Terrain(TerrainShader* shader, const TerrainArguments& arguments, const TerrainOptions& options);
    // Builds the surface from `map`, then the atlas, the drape the options name and the camera's
    // start pose; false with the reason when the map cannot be drawn.
    bool build(std::unique_ptr<HeightMapFile> map, bool heightScaleGiven, std::string& message);

    // What building the surface settles for the rest of start-up: the camera's start height and
    // where the map lies, for a drape.
    struct Placement {
        float startHeight = 0.0f;
        RasterGrid grid;
    };

    const TerrainOptions options;
    uint16_t largestValue = 0;
    // The lowest and highest sample value with data, for mode 3's range and the panel: known but
    // for a streamed image map, whose samples are never read whole.
    float lowestValue = 0.0f;
    float highestValue = 0.0f;
    bool isValueRangeKnown = false;
    double placedExaggeration = 1.0;
    std::optional<double> placedSeaLevel;
    // The map as typed, for the lines that name it, and the file it was read from.
    const std::string mapName;
    std::string mapFile;
    // Where the map lies, for the pictures laid over it.
    RasterGrid mapGrid;
    std::unique_ptr<TerrainSurface> surface;
    // The samples of a map drawn whole, for picking; a streamed map's held tiles are its stream's.
    std::unique_ptr<WholeMapHeights> wholeHeights;
    std::unique_ptr<MapCoordinates> coordinates;
    const GroundHeights& groundHeights() const;
    // The sun that lights the terrain, and the shadows it casts (made with the surface where the
    // options place a sun with shadows, else when first drawn with one).
    std::optional<SunPosition> sun;
    bool castsShadows = false;
    const Atmosphere* atmosphere = nullptr;
    std::unique_ptr<TerrainShadows> shadows;
    // Ground metres per world unit, for the air between the eye and the ground.
    double metresPerWorldUnit() const;
    // Starts the shadows' worker on the heights as they are placed now, with no sun yet.
    void makeShadows();
    // Makes the shadows when the sun needs them and faces them to it.
    void prepareShadows();
    // Sets the sunlit programs' uniforms.
    void setSunUniforms(const TerrainShader& program);

    // The one way the surface is made: streamed when asked or when the map is larger than one texture
    // holds, else whole (one mesh, or level of detail). Sets geometry and the fields of the map's
    // heights; null with the reason on failure.
    std::unique_ptr<TerrainSurface> makeSurface(HeightMapFile& map, bool heightScaleGiven, Placement& placed,
                                                std::string& message);
    std::unique_ptr<TerrainSurface> makeWholeSurface(HeightMapFile& map, bool heightScaleGiven, Placement& placed,
                                                     std::string& message);
    // Opens the map's pyramid (building it first when needed) and draws the map from it.
    std::unique_ptr<TerrainSurface> makeStreamedSurface(HeightMapFile& map, bool heightScaleGiven, Placement& placed,
                                                        std::string& message);
    // How the map's values stand in the world: an elevation map at its true proportions (a height
    // scale given for one ends the program), an image map by the scales.
    TerrainGeometry mapGeometry(const std::optional<Elevation>& elevation, uint16_t largestValue,
                                bool heightScaleGiven) const;
    // Mode 3's range and the start height from the map's lowest and highest sample value with
    // data (elevation maps only).
    float placeHeights(float lowest, float highest);
    // Mode 3's range for the heights as placed now.
    void fitGreyRange();
    // The geometry of the map's samples under the exaggeration and sea level placed now.
    TerrainGeometry placedGeometry() const;
    // Places the surface's heights, mode 3's range and whether there is a sea, as placed now.
    void replaceHeights();
    // The atlas, the drape over the map's grid and the camera at its start height.
    void finishStartUp(const Placement& placed);
    // Says once on standard error that tiles of a streamed map could not be read, and why.
    void reportLostTiles();
    // The application's pose and settings as the surfaces draw for them.
    TerrainView applicationView(int viewportHeight) const;

    // Reads the picture at `path` (as typed) and drapes it over the map; one that cannot be read
    // ends the program, one off the map is left out with a line that says so.
    void loadDrape(const std::string& path);
    // Reads the picture in `file` (a path read as given) over the map's grid, as loadDrape in
    // io/Drape.h does, keeping the window responsive meanwhile.
    bool readDrape(const std::string& file, DrapeImage& picture, std::string& message) const;
};
