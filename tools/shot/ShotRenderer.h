// Renders frames of the program's own pipeline for kelta-shot: a still is the one frame of a
// session, a video many frames of one, so that both are drawn the same way.
#pragma once

#include <memory>
#include <optional>

#include "io/PngImage.h"
#include "math/Math.h"
#include "tools/shot/ShotOptions.h"

class Application;

class ShotSession {
public:
    // Starts the program up in a hidden window of the options' size, with their modes, view and
    // bloom settings, posed as they say (the map's start pose where they say nothing) at their
    // time. Ends the process with one line on any failure, as the program's start-up does. One
    // per process.
    explicit ShotSession(const ShotOptions& options);
    // Shuts the program down.
    ~ShotSession();
    ShotSession(const ShotSession&) = delete;
    ShotSession& operator=(const ShotSession&) = delete;

    // The program, for a caller that poses it between frames (camera, time, settings).
    Application& application() { return *app; }
    // Lets the terrain settle on the camera's pose and the time in force without drawing (a
    // streamed map loads what the view wants, the shadows follow the sun), composes the frame, with
    // the panel over it where the options ask, and returns its pixels.
    RgbImage8 renderFrame();

private:
    std::unique_ptr<Application> app;
    int width;
    int height;
    bool panel;
    std::optional<vec2> cursor;
};

// The still the options describe: the one frame of a session.
RgbImage8 renderShot(const ShotOptions& options);
