// Parsing of kelta-bench's options; every value is checked before any map is run.
#include "tools/bench/BenchOptions.h"

#include <string>
#include <vector>

#include "io/DataPath.h"
#include "io/WholeNumber.h"
#include "tools/common/TerrainCommandLine.h"

std::string benchUsage() {
    const std::string defaultMap = absolutePath(resolveDataPath(DEFAULT_MAP));
    const std::string largeMap = absolutePath(resolveDataPath(LARGE_MAP));
    return
    "Usage: kelta-bench [options]\n"
    "Times KELTA's real frame (scene, resolve, 20 blur passes, final) along a fixed camera\n"
    "path with vertical sync off: GPU time per pass from OpenGL timestamp queries, CPU time\n"
    "per frame, and the start-up phases. Each map runs in a fresh process with one window,\n"
    "resized from size to size. Prints a table; --json also writes the numbers as JSON.\n"
    "\n"
    "Options:\n"
    "  --frames N      measured frames per size, 1 to 1000000 (default: 60)\n"
    "  --warmup N      frames drawn before measuring at each size, 0 to 1000000 (default: 10)\n"
    "  --size WxH      window size, 1 to 16384 a side; repeat for more sizes\n"
    "                  (default: 800x600 and 1920x1080)\n"
    "  --map FILE      height map (BMP, PNG, raw 16-bit or an elevation map GDAL reads), found\n"
    "                  as kelta finds it; repeat for more maps\n"
    "                  (default: " + defaultMap + ",\n"
    "                  then " + largeMap + " as one mesh and with level of\n"
    "                  detail; the 4096 map is generated there when missing)\n"
    "  --lod-map FILE  a map drawn with level of detail, as kelta --lod draws it; --lod and\n"
    "                  --lod-error below draw every map so\n"
    "  --stream-map FILE  a map streamed from its pyramid, as kelta --stream draws it (the\n"
    "                  pyramid is built first when the cache has none); --stream streams\n"
    "                  every map\n"
    "  --flight        instead of the camera path: at each size, frames standing a quarter of\n"
    "                  the way in along the start heading once every tile has arrived (static),\n"
    "                  then as many flying on from there at the camera's full speed (kelta's\n"
    "                  Shift speed, by the real clock); the table compares their 99th\n"
    "                  percentiles\n"
    "  --panel         every frame with the panel (kelta's F1) shown over it\n"
    "  --json FILE     also write the results as JSON to FILE, replacing it whole once the\n"
    "                  run has succeeded (a failed run leaves it as it was); '-' writes the\n"
    "                  JSON to standard output and the table to standard error\n"
    "  --help          show this text\n"
    "  --version       print the version\n"
    "\n"
    "Camera path: the program's start pose, climbing 0.5 units a second while the view swings\n"
    "22.5 degrees either way every 10 seconds; each frame advances the time by 1/60 second.\n"
    "Times are medians and 95th percentiles in milliseconds; fps = 1000 / the CPU frame median.\n"
    "Streamed maps also report the tiles loaded, the bytes read and the frames drawn while a\n"
    "tile they wanted was missing, over the whole run and over each size's measured frames.\n"
    "Resident memory is given after start-up and at its peak over the run (VmRSS and VmHWM).\n"
    "A map whose full mesh cannot be built is drawn with level of detail, as kelta draws it;\n"
    "the table and the JSON then say so, and the program's line saying why goes to standard\n"
    "error.\n"
    "The terrain options apply to every map; the heading and the JSON record the exaggeration,\n"
    "the drape and the view distance.\n"
    "Exits with code 1 when a run fails or the table or JSON could not be written.\n"
    "\n" + TERRAIN_OPTIONS_HELP;
}

bool parseBenchOptions(int argc, const char* const* argv, BenchOptions& options, std::string& error) {
    const std::vector<const char*> valueOptions{"--frames", "--warmup", "--size", "--map", "--lod-map",
                                                 "--stream-map", "--json"};
    const bool parsed = readOptionsWithTerrain(argc, argv, valueOptions, {"--flight", "--panel"}, options.terrain,
                                               options.wantsHelp, options.wantsVersion, error,
                                               [&](const OptionReader& reader, const std::string& value) {
        const std::string& name = reader.name();
        auto fail = [&](const char* expected) { return reader.refuse(expected, error); };

        if (name == "--frames") {
            if (!parseWholeNumber(value, 1, MAX_BENCH_FRAMES, options.frames)) {
                return fail("a whole number from 1 to 1000000");
            }
        } else if (name == "--warmup") {
            if (!parseWholeNumber(value, 0, MAX_BENCH_FRAMES, options.warmup)) {
                return fail("a whole number from 0 to 1000000");
            }
        } else if (name == "--size") {
            BenchSize size;
            if (!parseImageSize(value, MAX_BENCH_SIDE, size.width, size.height)) {
                return fail("WIDTHxHEIGHT, each 1 to 16384");
            }
            options.sizes.push_back(size);
        } else if (name == "--map" || name == "--lod-map" || name == "--stream-map") {
            if (value.empty()) return fail("a file name");
            options.maps.push_back(BenchMap{value, name == "--lod-map", name == "--stream-map"});
        } else if (name == "--flight") {
            options.flight = true;
        } else if (name == "--panel") {
            options.panel = true;
        } else if (name == "--json") {
            if (value.empty()) return fail("a file name or '-'");
            options.jsonPath = value;
        }
        return true;
    });
    for (BenchMap& map : options.maps) {
        map.levelOfDetail = map.levelOfDetail || options.terrain.levelOfDetail;
        map.stream = map.stream || options.terrain.stream;
    }
    return parsed;
}
