// Renders frames of the program's own pipeline for kelta-shot: a whole picture, or one part of it;
// a still is the one frame of a session, a video many frames of one, so that both are drawn the
// same way.
#pragma once

#include <memory>

#include "io/PngImage.h"
#include "tools/shot/PosterLayout.h"
#include "tools/shot/ShotOptions.h"

class Application;

// Starts the program up in a hidden window, its final pass drawing into a target of width x height,
// and poses it and sets its modes as the options say. Ends the process with one line on any failure,
// as the program's start-up does. Call once per process; the caller shuts the application down.
std::unique_ptr<Application> startShot(const ShotOptions& options, int width, int height);

// Draws the part `part` of the options' picture (width x height) into the whole final target, which
// is the part's size: the view's projection narrowed to it (partProjection), after the terrain has
// settled on what that view shows without drawing (a streamed map loads what it wants).
void composeShotPart(Application& app, const ShotOptions& options, const PixelRect& part);

// The program started once for many frames of its pipeline.
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
    // streamed map loads what the view wants, the shadows follow the sun), composes the whole
    // picture, with the panel over it where the options ask, and returns its pixels.
    RgbImage8 renderFrame();

private:
    const ShotOptions options;
    std::unique_ptr<Application> app;
};

// The still the options describe, drawn at once: the one frame of a session. Call once per process.
RgbImage8 renderShot(const ShotOptions& options);
