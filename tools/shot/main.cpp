// kelta-shot: one frame of KELTA's pipeline, rendered off-screen (in tiles, when large) and written as a PNG,
// or a camera path's frames written as a video or as PNGs.
#include <optional>
#include <string>
#include <utility>

#include "io/AtomicFile.h"
#include "tools/common/ToolRun.h"
#include "io/PngImage.h"
#include "tools/shot/PosterRenderer.h"
#include "tools/shot/ShotFlight.h"
#include "tools/shot/ShotOptions.h"
#include "tools/shot/ShotRenderer.h"

int main(int argc, char** argv) {
    startTool("kelta-shot");
    ShotOptions options;
    std::string error;
    if (!parseShotOptions(argc, argv, options, error)) fail(error);
    if (options.wantsHelp) {
        printResult(shotUsage());
        return finishTool();
    }
    if (options.wantsVersion) {
        printVersion();
        return finishTool();
    }
    if (isFlight(options)) {
        // A path that cannot be flown, or a file or folder that cannot take its frames, fails first.
        std::optional<CameraPath> path;
        if (!options.pathFile.empty()) {
            path = readFlightPath(options, error);
            if (!path) fail(error);
        }
        if (!checkFlightTarget(options, error)) fail(error);
        const int frames = renderFlight(options, std::move(path));
        const std::string target = options.videoPath.empty() ? options.framesFolder : options.videoPath;
        printResult("Wrote " + target + " (" + std::to_string(frames) + " frames of " + std::to_string(options.width) +
                    " x " + std::to_string(options.height) + " at " + std::to_string(options.framesPerSecond) +
                    " a second)\n");
        return finishTool();
    }
    // Rendering takes seconds to minutes; a path that cannot take the picture fails first.
    if (!checkReplaceable(options.outputPath, error)) fail(error);
    if (drawsInTiles(options)) {
        renderPoster(options);
    } else {
        const RgbImage8 image = renderShot(options);
        if (!writePng(options.outputPath, image, error)) fail(error);
    }
    printResult("Wrote " + options.outputPath + " (" + std::to_string(options.width) + " x " +
                std::to_string(options.height) + ")\n");
    return finishTool();
}
