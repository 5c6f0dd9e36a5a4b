#include "app/Screenshot.h"

#include <filesystem>
#include <iostream>

#include "app/Application.h"
#include "io/AtomicFile.h"
#include "io/PngImage.h"
#include "post/OutputPixels.h"

std::string screenshotStem(const std::tm& localTime) {
    char name[64];
    std::strftime(name, sizeof name, "kelta-%Y-%m-%d-%H-%M-%S", &localTime);
    return name;
}

std::string screenshotPath(const std::string& folder, const std::tm& localTime) {
    const std::string stem = (std::filesystem::path(folder) / screenshotStem(localTime)).string();
    return unusedPath(stem, ".png");
}

void takeScreenshot(const Application& app) {
    const RgbImage8 picture = readOutputPixels(app.outputFramebuffer, app.outputWidth, app.outputHeight);
    const std::time_t now = std::time(nullptr);
    std::tm localTime{};
    localtime_r(&now, &localTime);
    const std::string path = screenshotPath(app.screenshotFolder, localTime);
    std::string error;
    if (writePng(path, picture, error)) {
        std::cout << "Screenshot: " << path << std::endl;
    } else {
        std::cerr << app.programName() << ": screenshot not saved: " << error << std::endl;
    }
}
