// The saved views of the map drawn, as the keys and the panel use them: each says what it did in
// one line on standard output, or why it could not in one line on standard error. Without views
// (a tool running the program's start-up) they do nothing.
#pragma once

#include <string>

#include "show/SavedViews.h"

class Application;

// Reads the views of the map now drawn (at start-up, and when another map replaces it); a file
// that cannot be read as views is said in one line.
void openSavedViews(Application& app);
// The view the application shows now, to be saved under `number`.
SavedView currentView(const Application& app, int number);
// Saves the view shown now under `number`, over the view there (keeping its name).
void saveView(Application& app, int number);
// Puts the view in force at once: its shading mode, its pose, and its exaggeration and time of day
// (which moves a sun placed by a time).
void applySavedView(Application& app, const SavedView& view);
// Puts the view saved under `number` in force: the shading mode at once, the camera, the time of
// day and the exaggeration flying there over half a second.
void recallView(Application& app, int number);
void renameView(Application& app, int number, const std::string& name);
void removeView(Application& app, int number);
