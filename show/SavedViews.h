// Views saved under a number, per map: where the camera stood and looked, the time of day, the
// shading mode and the exaggeration, kept in a small JSON file so that they outlive the run. Free
// of GL: the program, the panel and kelta-shot share it.
//
// A map's views live in $XDG_DATA_HOME/kelta/views (else ~/.local/share/kelta/views), in a file
// named by the map's file name and the hash its pyramid's folder is named by: another map of the
// same name elsewhere keeps views of its own, and a map keeps its views while its file changes.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "show/CameraPath.h"

// The numbers a view is saved under: the digits of the keys that save and recall them.
constexpr int FIRST_VIEW_NUMBER = 1;
constexpr int LAST_VIEW_NUMBER = 9;

struct SavedView {
    int number = FIRST_VIEW_NUMBER;
    // The reader's name for it; may be empty.
    std::string name;
    // Position and direction, with the sun's time when one was set and the exaggeration.
    PathPose pose;
    int shadingMode = 5;
};

// "view 3" or "view 3: Harbour at dusk", as the log names it.
std::string viewTitle(const SavedView& view);

// Where the views of every map are kept: $XDG_DATA_HOME/kelta/views, else
// $HOME/.local/share/kelta/views; empty when neither variable is set.
std::string savedViewsFolder();
// The file in `folder` that keeps the views of the map at `mapPath`: "<map's stem>-<hash>.json".
std::string savedViewsFile(const std::string& folder, const std::string& mapPath);

// Reads a views file's text; false with one line saying what is wrong and where in `error`.
bool parseSavedViews(const std::string& json, std::vector<SavedView>& views, std::string& error);
// The views as a file's text, which parseSavedViews reads back to the same views; `mapPath` is
// written into it for the reader of the file, and not read back.
std::string savedViewsJson(const std::vector<SavedView>& views, const std::string& mapPath);

// The views of one map, as its file holds them. Every change reads the file again first (another
// window may have saved a view meanwhile), applies itself and writes the file whole or not at all.
// A file that does not read as views is never written over: the first change after it moves it
// aside to "<file>.damaged" (or "-2", ... after it) and starts afresh, and says so.
class SavedViews {
public:
    // Reads the views of the map at `mapPath` from `folder`; an absent file holds none. Empty
    // `folder`: nowhere to keep them, which every change says.
    SavedViews(const std::string& folder, const std::string& mapPath);

    const std::string& file() const { return path; }
    // Why the file could not be read as views (one line naming it), or empty.
    const std::string& problem() const { return readProblem; }
    // Whether it could be read but holds no views, and so is moved aside by the next change.
    bool isDamaged() const { return damaged; }
    // By number, lowest first.
    const std::vector<SavedView>& views() const { return kept; }
    const SavedView* find(int number) const;
    // The view of that number (1 to 9 written as a digit) or, failing that, of that name.
    const SavedView* find(const std::string& numberOrName) const;
    // The lowest number no view has; none when all are taken.
    std::optional<int> freeNumber() const;

    // Each change returns false, with one line naming the file and the reason in `message`, when
    // the file could not be written (the views then stay as they were); on success `message` is
    // empty or says that a damaged file was moved aside.
    // Saves `view` under its number, over the view there but keeping that one's name when `view`
    // has none.
    bool save(SavedView view, std::string& message);
    bool rename(int number, const std::string& name, std::string& message);
    bool remove(int number, std::string& message);

private:
    std::string path;
    std::string mapPath;
    std::vector<SavedView> kept;
    std::string readProblem;
    bool damaged = false;

    // Reads the file into `views`: true for views read or no file. False with the reason, and
    // `isDamaged` when the file is there and could be read but holds no views.
    bool read(std::vector<SavedView>& views, bool& isDamaged, std::string& problem) const;
    bool change(const std::function<void(std::vector<SavedView>&)>& edit, std::string& message);
};
