#include "app/SavedViewCommands.h"

#include <iostream>
#include <memory>

#include "app/Application.h"
#include "app/ViewSettings.h"
#include "scene/Terrain.h"
#include "show/PathPlayback.h"

namespace {

// How long a recalled view's flight takes.
constexpr double RECALL_SECONDS = 0.5;

void applyShadingMode(Application& app, int mode) {
    ViewSettings settings = viewSettingsOf(app);
    settings.shadingMode = mode;
    applyViewSettings(app, settings);
}

// Says what a change of the views file did: `done` on standard output, or `undone` and the reason
// on standard error; a damaged file moved aside on the way is said too.
void report(const Application& app, bool changed, const std::string& message, const std::string& done,
            const std::string& undone) {
    if (!changed) {
        std::cerr << app.programName() << ": " << undone << ": " << message << std::endl;
        return;
    }
    if (!message.empty()) std::cerr << app.programName() << ": " << message << std::endl;
    std::cout << done << std::endl;
}

}  // namespace

void openSavedViews(Application& app) {
    app.savedViews = std::make_unique<SavedViews>(savedViewsFolder(), app.terrain->file());
    const SavedViews& views = *app.savedViews;
    if (views.problem().empty()) return;
    std::cerr << app.programName() << ": " << views.problem()
              << (views.isDamaged() ? "; the next view saved moves it aside" : "") << std::endl;
}

SavedView currentView(const Application& app, int number) {
    SavedView view;
    view.number = number;
    view.pose = poseOf(app);
    view.shadingMode = app.terrainMode;
    return view;
}

void saveView(Application& app, int number) {
    if (!app.savedViews) return;
    std::string message;
    const bool saved = app.savedViews->save(currentView(app, number), message);
    const SavedView* view = app.savedViews->find(number);
    report(app, saved, message, view ? "Saved " + viewTitle(*view) : "",
           "view " + std::to_string(number) + " not saved");
}

void applySavedView(Application& app, const SavedView& view) {
    applyShadingMode(app, view.shadingMode);
    applyPose(app, view.pose);
}

void recallView(Application& app, int number) {
    if (!app.savedViews) return;
    const SavedView* found = app.savedViews->find(number);
    if (!found) {
        std::cout << "No view " << number << " saved for this map" << std::endl;
        return;
    }
    const SavedView& view = *found;
    applyShadingMode(app, view.shadingMode);
    // From wherever the camera is, a flight of its own included.
    app.playback =
        std::make_unique<PathPlayback>(CameraPath::between(poseOf(app), view.pose, RECALL_SECONDS), app.time);
    // The line begins with it: "View 3: Harbour".
    std::string line = viewTitle(view);
    line[0] = 'V';
    std::cout << line << std::endl;
}

void renameView(Application& app, int number, const std::string& name) {
    if (!app.savedViews) return;
    const SavedView* view = app.savedViews->find(number);
    if (!view || view->name == name) return;
    SavedView named = *view;
    named.name = name;
    std::string message;
    const bool renamed = app.savedViews->rename(number, name, message);
    report(app, renamed, message, "Named " + viewTitle(named),
           "view " + std::to_string(number) + " not renamed");
}

void removeView(Application& app, int number) {
    if (!app.savedViews || !app.savedViews->find(number)) return;
    std::string message;
    const bool removed = app.savedViews->remove(number, message);
    report(app, removed, message, "Deleted view " + std::to_string(number),
           "view " + std::to_string(number) + " not deleted");
}
