// Renders frames of the program's own pipeline for kelta-shot: a whole picture, or one part of it.
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

// Renders the options' picture at once, with the panel over it when asked, and returns its pixels.
// Ends the process with one line on any failure. Call once per process.
RgbImage8 renderShot(const ShotOptions& options);
