// The saved views' file: its name, its JSON read back, what a damaged file costs, and changes that
// keep another window's views; the digit chords that save and recall them.
#include "show/SavedViews.h"

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/DigitChords.h"
#include "io/Pyramid.h"
#include "tests/TempFolder.h"

namespace {

std::string contentOf(const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

void writeText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

SavedView viewAt(int number, float x, const std::string& name = "") {
    SavedView view;
    view.number = number;
    view.name = name;
    view.pose.position = vec3{x, 12.5f, -40.0f};
    view.pose.direction = normalize(vec3{1.0f, -0.25f, -1.0f});
    view.pose.settings.exaggeration = 1.25;
    view.shadingMode = 4;
    return view;
}

// A map path that need not exist: only its name and place are used.
const char* const MAP = "/maps/Lake_512.bmp";

}  // namespace

// Fault caught: positions that lose their last bits (a recalled view beside the saved one), a sun
// time that loses its zone, settings that were unset read back as set, names that do not survive
// quotes or non-ASCII letters.
TEST(SavedViews, JsonReadsBackToTheSameViews) {
    std::vector<SavedView> views{viewAt(2, 0.1f, "Harbour \"at\" dusk, Ålesund"), viewAt(7, -123456.789f)};
    views[0].pose.settings.sunTime = parseZonedTime("2026-06-21T18:30:15-03:30");
    views[1].pose.settings.exaggeration.reset();
    views[1].pose.direction = normalize(vec3{0.3f, 0.9f, 1e-3f});
    std::vector<SavedView> read;
    std::string error;
    ASSERT_TRUE(parseSavedViews(savedViewsJson(views, MAP), read, error)) << error;
    ASSERT_EQ(read.size(), views.size());
    for (size_t i = 0; i < views.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(read[i].number, views[i].number);
        EXPECT_EQ(read[i].name, views[i].name);
        EXPECT_EQ(read[i].shadingMode, views[i].shadingMode);
        const vec3 &position = read[i].pose.position, &direction = read[i].pose.direction;
        EXPECT_EQ(position.x, views[i].pose.position.x);
        EXPECT_EQ(position.y, views[i].pose.position.y);
        EXPECT_EQ(position.z, views[i].pose.position.z);
        EXPECT_FLOAT_EQ(direction.x, views[i].pose.direction.x);
        EXPECT_FLOAT_EQ(direction.y, views[i].pose.direction.y);
        EXPECT_FLOAT_EQ(direction.z, views[i].pose.direction.z);
        EXPECT_EQ(read[i].pose.settings.exaggeration, views[i].pose.settings.exaggeration);
        ASSERT_EQ(read[i].pose.settings.sunTime.has_value(), views[i].pose.settings.sunTime.has_value());
        if (views[i].pose.settings.sunTime) {
            EXPECT_EQ(read[i].pose.settings.sunTime->utcSeconds, views[i].pose.settings.sunTime->utcSeconds);
            EXPECT_EQ(read[i].pose.settings.sunTime->offsetMinutes, views[i].pose.settings.sunTime->offsetMinutes);
        }
    }
}

// Fault caught: a file a person edited wrongly taken for views that put the camera nowhere (a
// vertical or zero direction, a mode the program has no program for) or that shadow each other,
// or refused without saying which view is wrong.
TEST(SavedViews, FilesThatHoldNoViewsSayWhatIsWrongAndWhere) {
    const std::string good = R"("position": [1, 2, 3], "direction": [0, 0, -1], "shading_mode": 5)";
    const struct {
        std::string json;
        std::string error;
    } cases[] = {
        {"{\"views\": [", "it is not JSON"},
        {"[]", "it holds no \"views\" list"},
        {"{\"views\": [{" + good + "}]}", "entry 1 of \"views\" needs a \"number\" from 1 to 9"},
        {"{\"views\": [{\"number\": 1, " + good + "}, {\"number\": 10, " + good + "}]}", "entry 2 of \"views\""},
        {"{\"views\": [{\"number\": 2.5, " + good + "}]}", "entry 1 of \"views\" needs"},
        {"{\"views\": [{\"number\": \"3\", " + good + "}]}", "entry 1 of \"views\" needs"},
        {"{\"views\": [7]}", "entry 1 of \"views\" is not an object"},
        {"{\"views\": [{\"number\": 3, " + good + "}, {\"number\": 3, " + good + "}]}", "view 3 is there twice"},
        {R"({"views": [{"number": 4, "direction": [0, 0, -1], "shading_mode": 5}]})", "view 4: \"position\""},
        {R"({"views": [{"number": 4, "position": [1, 2], "direction": [0, 0, -1], "shading_mode": 5}]})",
         "view 4: \"position\" must be three numbers"},
        {R"({"views": [{"number": 5, "position": [1, 2, 3], "direction": [0, -1, 0], "shading_mode": 5}]})",
         "view 5: \"direction\" must be neither zero nor straight up or down"},
        {R"({"views": [{"number": 6, "position": [1, 2, 3], "direction": [1, 0, 0], "shading_mode": 6}]})",
         "view 6: \"shading_mode\" must be a whole number from 1 to 5"},
        {"{\"views\": [{\"number\": 6, " + good + ", \"exaggeration\": 0}]}", "view 6: \"exaggeration\""},
        {"{\"views\": [{\"number\": 8, " + good + ", \"sun_time\": \"2026-06-21T18:30\"}]}",
         "view 8: \"sun_time\" must be a time"},
        {"{\"views\": [{\"number\": 9, " + good + ", \"name\": 9}]}", "view 9: \"name\" must be text"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        std::vector<SavedView> views{viewAt(1, 0.0f)};
        std::string error;
        EXPECT_FALSE(parseSavedViews(c.json, views, error));
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
        EXPECT_EQ(views.size(), 1u) << "the views were changed";
    }
}

// Fault caught: a map's views lost when it is typed by another path, or two maps of one name in
// different folders sharing their views; views kept under a rule other than the pyramid cache's.
TEST(SavedViews, AMapsFileIsNamedByItsStemAndTheHashOfItsAbsolutePath) {
    const TempFolder folder;
    const std::string map = folder / "Lake_512.bmp";
    const std::string file = savedViewsFile("/views", map);
    EXPECT_EQ(file, "/views/Lake_512-" + mapPathHash(map) + ".json");
    EXPECT_EQ(mapPathHash(map), std::filesystem::path(pyramidFolder("/cache", map)).filename().string());
    const std::filesystem::path working = std::filesystem::current_path();
    std::filesystem::current_path(folder.path);
    EXPECT_EQ(savedViewsFile("/views", "./sub/../Lake_512.bmp"), file);
    std::filesystem::current_path(working);
    EXPECT_NE(savedViewsFile("/views", folder / "other/Lake_512.bmp"), file);
}

// Fault caught: views written where the XDG rules do not put data (a relative XDG_DATA_HOME taken,
// or HOME ignored without it).
TEST(SavedViews, TheFolderFollowsTheXdgDataHome) {
    const std::string data = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    const struct {
        const char* data;
        const char* home;
        std::string folder;
    } cases[] = {
        {"/data", "/home/me", "/data/kelta/views"},
        {"relative/data", "/home/me", "/home/me/.local/share/kelta/views"},
        {nullptr, nullptr, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        c.data ? setenv("XDG_DATA_HOME", c.data, 1) : unsetenv("XDG_DATA_HOME");
        c.home ? setenv("HOME", c.home, 1) : unsetenv("HOME");
        EXPECT_EQ(savedViewsFolder(), c.folder);
    }
    data.empty() ? unsetenv("XDG_DATA_HOME") : setenv("XDG_DATA_HOME", data.c_str(), 1);
    home.empty() ? unsetenv("HOME") : setenv("HOME", home.c_str(), 1);
}

// Fault caught: views that do not outlive the run, a saved view that loses its name when saved
// over, a rename or removal that touches another view, numbers handed out twice, a name found
// before the number it spells.
TEST(SavedViews, ChangesAreWrittenAndReadByTheNextRun) {
    const TempFolder folder;
    const std::string views = folder / "views";
    std::string message;
    {
        SavedViews first(views, MAP);
        EXPECT_TRUE(first.problem().empty());
        EXPECT_EQ(first.freeNumber(), 1);
        ASSERT_TRUE(first.save(viewAt(1, 1.0f, "2"), message)) << message;
        ASSERT_TRUE(first.save(viewAt(2, 2.0f, "Bay"), message)) << message;
        ASSERT_TRUE(first.save(viewAt(4, 4.0f), message)) << message;
        ASSERT_TRUE(first.save(viewAt(2, 20.0f), message)) << message;
        ASSERT_TRUE(first.rename(4, "Ridge", message)) << message;
        ASSERT_TRUE(first.remove(1, message)) << message;
        EXPECT_TRUE(message.empty()) << message;
    }
    const SavedViews next(views, MAP);
    EXPECT_TRUE(next.problem().empty()) << next.problem();
    ASSERT_EQ(next.views().size(), 2u);
    EXPECT_EQ(next.find(1), nullptr);
    ASSERT_NE(next.find(2), nullptr);
    EXPECT_EQ(next.find(2)->name, "Bay");
    EXPECT_EQ(next.find(2)->pose.position.x, 20.0f);
    EXPECT_EQ(next.find("Ridge"), next.find(4));
    EXPECT_EQ(next.find("2"), next.find(2));
    EXPECT_EQ(next.find("Nowhere"), nullptr);
    EXPECT_EQ(next.freeNumber(), 1);
}

// Fault caught: one window's save dropping the view another window saved since it read the file.
TEST(SavedViews, AChangeKeepsTheViewsAnotherWindowSavedMeanwhile) {
    const TempFolder folder;
    SavedViews one(folder.path.string(), MAP), other(folder.path.string(), MAP);
    std::string message;
    ASSERT_TRUE(one.save(viewAt(1, 1.0f), message)) << message;
    ASSERT_TRUE(other.save(viewAt(2, 2.0f), message)) << message;
    EXPECT_EQ(other.views().size(), 2u);
    EXPECT_EQ(SavedViews(folder.path.string(), MAP).views().size(), 2u);
}

// Fault caught: a damaged file written over (a person's typo costs every view), read as no views
// without a word, or moved aside over an earlier damaged file; a file that cannot be read at all
// (a folder in its place) taken for a damaged one.
TEST(SavedViews, ADamagedFileIsSaidAndMovedAsideWholeAtTheFirstChange) {
    const TempFolder folder;
    SavedViews probe(folder.path.string(), MAP);
    const std::string file = probe.file();
    const std::string damaged = "{\"views\": [{\"number\": 1, \"position\": [1, 2, 3]";
    writeText(file, damaged);
    writeText(file + ".damaged", "older");
    SavedViews views(folder.path.string(), MAP);
    EXPECT_EQ(views.problem(), file + " holds no views that can be read: it is not JSON");
    EXPECT_TRUE(views.isDamaged());
    EXPECT_TRUE(views.views().empty());
    EXPECT_EQ(contentOf(file), damaged) << "reading changed the file";
    std::string message;
    ASSERT_TRUE(views.save(viewAt(3, 3.0f), message)) << message;
    EXPECT_EQ(message, file + " holds no views that can be read: it is not JSON; moved it aside to " + file +
                           ".damaged-2");
    EXPECT_EQ(contentOf(file + ".damaged-2"), damaged);
    EXPECT_EQ(contentOf(file + ".damaged"), "older");
    EXPECT_TRUE(views.problem().empty());
    EXPECT_FALSE(views.isDamaged());
    EXPECT_EQ(SavedViews(folder.path.string(), MAP).views().size(), 1u);

    std::filesystem::remove(file);
    std::filesystem::create_directory(file);
    SavedViews blocked(folder.path.string(), MAP);
    EXPECT_EQ(blocked.problem(), "cannot read " + file + ": it is not a regular file");
    EXPECT_FALSE(blocked.isDamaged());
    EXPECT_FALSE(blocked.save(viewAt(3, 3.0f), message));
    EXPECT_EQ(message, blocked.problem());
    EXPECT_TRUE(std::filesystem::is_directory(file));

    SavedViews nowhere("", MAP);
    EXPECT_FALSE(nowhere.save(viewAt(3, 3.0f), message));
    EXPECT_EQ(message, "no folder for saved views: neither XDG_DATA_HOME nor HOME is set");
}

// Fault caught: a chord's digit taken for a plain one when Ctrl or Alt is let go first (its release,
// or a repeat, would switch the shading mode), AltGr's characters taken for commands, a plain
// digit no longer choosing the mode after a chord, or Shift and a digit losing the mode it chooses.
TEST(DigitChords, AChordIsToldAtThePressAndHoldsUntilTheRelease) {
    using C = DigitCommand;
    const int CTRL = GLFW_MOD_CONTROL, ALT = GLFW_MOD_ALT, SHIFT = GLFW_MOD_SHIFT;
    const struct {
        const char* name;
        std::vector<std::array<int, 3>> events;  // digit, action, mods
        std::vector<DigitCommand> commands;
    } cases[] = {
        {"plain digit: press, repeat, release",
         {{3, GLFW_PRESS, 0}, {3, GLFW_REPEAT, 0}, {3, GLFW_RELEASE, 0}},
         {C::ShadingMode, C::ShadingMode, C::ShadingMode}},
        {"Shift and a digit", {{2, GLFW_PRESS, SHIFT}, {2, GLFW_RELEASE, SHIFT}}, {C::ShadingMode, C::ShadingMode}},
        {"Ctrl let go before the digit",
         {{3, GLFW_PRESS, CTRL}, {3, GLFW_REPEAT, CTRL}, {3, GLFW_REPEAT, 0}, {3, GLFW_RELEASE, 0}, {3, GLFW_PRESS, 0}},
         {C::SaveView, C::None, C::None, C::None, C::ShadingMode}},
        {"Alt let go before the digit", {{9, GLFW_PRESS, ALT}, {9, GLFW_RELEASE, 0}}, {C::RecallView, C::None}},
        {"Ctrl pressed while the digit is held", {{4, GLFW_PRESS, 0}, {4, GLFW_RELEASE, CTRL}},
         {C::ShadingMode, C::ShadingMode}},
        {"AltGr", {{7, GLFW_PRESS, CTRL | ALT}, {7, GLFW_RELEASE, 0}}, {C::None, C::None}},
        {"digits that number no view", {{0, GLFW_PRESS, CTRL}, {0, GLFW_RELEASE, 0}, {6, GLFW_PRESS, 0}},
         {C::None, C::None, C::None}},
        {"another digit's chord", {{1, GLFW_PRESS, CTRL}, {2, GLFW_PRESS, 0}, {1, GLFW_RELEASE, 0}},
         {C::SaveView, C::ShadingMode, C::None}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DigitChords chords;
        std::vector<DigitCommand> commands;
        for (const auto& [digit, action, mods] : c.events) commands.push_back(chords.command(digit, action, mods));
        EXPECT_EQ(commands, c.commands);
    }
}
