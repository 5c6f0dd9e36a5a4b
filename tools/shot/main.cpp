// kelta-shot: one frame of KELTA's pipeline, rendered off-screen and written as a PNG.
#include <iostream>
#include <string>

#include "app/Fatal.h"
#include "tools/shot/PngImage.h"
#include "tools/shot/ShotOptions.h"
#include "tools/shot/ShotRenderer.h"

int main(int argc, char** argv) {
    ShotOptions options;
    std::string error;
    if (!parseShotOptions(argc, argv, options, error)) fatal("kelta-shot: " + error);
    if (options.wantsHelp) {
        std::cout << SHOT_USAGE;
        return 0;
    }
    const RgbImage8 image = renderShot(options);
    if (!writePng(options.outputPath, image, error)) fatal("kelta-shot: " + error);
    std::cout << "Wrote " << options.outputPath << " (" << image.width << " x " << image.height << ")" << std::endl;
    return 0;
}
