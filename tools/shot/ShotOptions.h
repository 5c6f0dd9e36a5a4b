// kelta-shot's command line: what to render (camera, time, shading mode, view, bloom settings,
// height map, scales and terrain options) and where to write it.
#pragma once

#include <optional>
#include <string>

#include "app/TerrainOptions.h"
#include "math/Math.h"
#include "post/FinalProcessingEffect.h"
#include "scene/Terrain.h"
#include "show/FollowOptions.h"
#include "show/VideoEncoder.h"

// The final pass's views, in the order the program's B key cycles them.
constexpr const char* SHOT_VIEW_NAMES[4] = {"bloom", "no-bloom", "bright", "blurred"};

// Pictures up to this side, with the margins the bloom takes, are drawn at once; larger ones in tiles
// of this side, which keeps the memory a picture takes bounded (see tools/shot/PosterLayout.h).
constexpr int DEFAULT_TILE_SIDE = 4096;

struct ShotOptions {
    std::string outputPath = "kelta-shot.png";
    int width = 800;
    int height = 600;
    // Unset pose components keep the program's start pose for the map and scales.
    bool hasPosition = false;
    vec3 position;
    bool hasDirection = false;
    vec3 direction;  // normalised
    double time = 0.0;
    int mode = 5;
    int view = 0;
    float bloomGain = FinalProcessingEffect::DEFAULT_BLOOM_GAIN;
    float bloomThreshold = Terrain::DEFAULT_BLOOM_THRESHOLD;
    // Passed to the terrain as the program's own three arguments; empty ones are left out.
    std::string heightMapPath;
    std::string horizontalScale;
    std::string heightScale;
    TerrainOptions terrain;
    // The panel (kelta's F1) over the picture, describing the ground under `cursor` (pixels from the
    // top left; the centre when unset).
    bool panel = false;
    std::optional<vec2> cursor;
    // A camera path flown frame by frame instead of a still, read from a file or made along a track
    // (one of the two): frame n shows the path's pose, the water and the sun at n / framesPerSecond
    // seconds. The frames go to a video file or to numbered PNGs in a folder, one of the two.
    std::string pathFile;
    FollowOptions follow;
    // The file's path flown at one speed over its whole length, as kelta's --constant-speed flies it.
    bool constantSpeed = false;
    std::string videoPath;
    std::string framesFolder;
    int framesPerSecond = 30;
    int videoQuality = DEFAULT_VIDEO_QUALITY;
    // The side of the part of the picture that each tile of a picture drawn in tiles keeps.
    int tileSide = DEFAULT_TILE_SIDE;
    // A view saved in kelta for the map (its number or its name), whose pose, shading mode,
    // exaggeration and time of day replace those of the other options; empty for none.
    std::string savedView;
    bool wantsHelp = false;
    bool wantsVersion = false;
};

// The --help text, with the default map as this process finds it.
std::string shotUsage();

// Whether the options ask for frames of a camera path rather than a still.
inline bool isFlight(const ShotOptions& options) { return !options.pathFile.empty() || options.follow.isAsked(); }

// The frames a flight of `seconds` takes at `framesPerSecond`: frame n shows n / fps seconds, so the
// last one shows the path's end or less than a frame before it; at least one.
int flightFrameCount(double seconds, int framesPerSecond);

// Largest side accepted on the command line: pictures larger than the GL draws at once are drawn in tiles.
constexpr int MAX_SHOT_SIDE = 32768;

// Parses argv[1..]; on a bad or unknown option, or options that do not go together (a still's with a
// flight's), returns false with one line naming it in `error`.
bool parseShotOptions(int argc, const char* const* argv, ShotOptions& options, std::string& error);

// Whether the picture is larger than one tile with its margins, and so drawn in tiles.
bool drawsInTiles(const ShotOptions& options);
