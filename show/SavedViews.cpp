// The views file: its place, its JSON and the changes that rewrite it.
#include "show/SavedViews.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <system_error>

#include "app/ViewSettings.h"
#include "io/AtomicFile.h"
#include "io/Pyramid.h"

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

namespace {

// Reads a JSON array of three finite numbers.
bool readVector(const Json& value, vec3& vector) {
    if (!value.is_array() || value.size() != 3) return false;
    float parts[3];
    for (int i = 0; i < 3; ++i) {
        if (!value[i].is_number()) return false;
        const double part = value[i].get<double>();
        if (!std::isfinite(part) || std::fabs(part) > 3.0e38) return false;
        parts[i] = static_cast<float>(part);
    }
    vector = vec3{parts[0], parts[1], parts[2]};
    return true;
}

// One view of the file, or false with what is wrong with it in `error`.
bool readView(const Json& entry, SavedView& view, std::string& error) {
    if (!entry.is_object()) {
        error = "is not an object";
        return false;
    }
    const Json::const_iterator number = entry.find("number");
    if (number == entry.end() || !number->is_number_integer() || number->get<long long>() < FIRST_VIEW_NUMBER ||
        number->get<long long>() > LAST_VIEW_NUMBER) {
        error = "needs a \"number\" from " + std::to_string(FIRST_VIEW_NUMBER) + " to " +
                std::to_string(LAST_VIEW_NUMBER);
        return false;
    }
    view.number = number->get<int>();
    const std::string which = "view " + std::to_string(view.number) + ": ";
    auto refuse = [&](const std::string& what) {
        error = which + what;
        return false;
    };
    if (const Json::const_iterator name = entry.find("name"); name != entry.end()) {
        if (!name->is_string()) return refuse("\"name\" must be text");
        view.name = name->get<std::string>();
    }
    if (!entry.contains("position") || !readVector(entry["position"], view.pose.position)) {
        return refuse("\"position\" must be three numbers");
    }
    vec3 direction;
    if (!entry.contains("direction") || !readVector(entry["direction"], direction)) {
        return refuse("\"direction\" must be three numbers");
    }
    // The camera's up is fixed, so a vertical direction has no view frame.
    const float horizontal = std::sqrt(direction.x * direction.x + direction.z * direction.z);
    if (horizontal <= 1.0e-3f * std::fabs(direction.y) || length(direction) < 1.0e-6f) {
        return refuse("\"direction\" must be neither zero nor straight up or down");
    }
    view.pose.direction = normalize(direction);
    const Json::const_iterator mode = entry.find("shading_mode");
    if (mode == entry.end() || !mode->is_number_integer() || mode->get<long long>() < 1 || mode->get<long long>() > 5) {
        return refuse("\"shading_mode\" must be a whole number from 1 to 5");
    }
    view.shadingMode = mode->get<int>();
    view.pose.settings = PathSettings{};
    if (const Json::const_iterator exaggeration = entry.find("exaggeration"); exaggeration != entry.end()) {
        const double value = exaggeration->is_number() ? exaggeration->get<double>() : 0.0;
        if (!(value >= LEAST_EXAGGERATION && value <= GREATEST_EXAGGERATION)) {
            return refuse("\"exaggeration\" must be a number from 0.001 to 1000");
        }
        view.pose.settings.exaggeration = value;
    }
    if (const Json::const_iterator time = entry.find("sun_time"); time != entry.end()) {
        std::optional<ZonedTime> parsed;
        if (time->is_string()) parsed = parseZonedTime(time->get<std::string>());
        if (!parsed) return refuse("\"sun_time\" must be a time such as \"2026-06-21T18:30+02:00\"");
        view.pose.settings.sunTime = parsed;
    }
    return true;
}

// The float as the double of its shortest decimal that reads back to it: written as 1.1, not as the
// 1.100000023841858 that the float's own double is.
double shortestDecimal(float value) {
    char text[32];
    for (int digits = 6;; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, double(value));
        if (std::strtof(text, nullptr) == value || digits >= 9) return std::strtod(text, nullptr);
    }
}

Json vectorJson(const vec3& vector) {
    return Json::array({shortestDecimal(vector.x), shortestDecimal(vector.y), shortestDecimal(vector.z)});
}

// A name typed in the panel or a map's path may hold bytes that are not UTF-8; they must not cost
// the file.
std::string jsonText(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

std::vector<SavedView>::iterator viewNumbered(std::vector<SavedView>& views, int number) {
    return std::find_if(views.begin(), views.end(), [&](const SavedView& view) { return view.number == number; });
}

// The map's path as its hash names it, for the reader of the file.
std::string absoluteMapPath(const std::string& path) {
    std::error_code error;
    return fs::weakly_canonical(fs::absolute(path, error), error).string();
}

}  // namespace

std::string viewTitle(const SavedView& view) {
    const std::string title = "view " + std::to_string(view.number);
    return view.name.empty() ? title : title + ": " + view.name;
}

std::string savedViewsFolder() {
    // The XDG base directory rules ignore a relative path.
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/') return (fs::path(data) / "kelta" / "views").string();
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') return (fs::path(home) / ".local" / "share" / "kelta" / "views").string();
    return "";
}

std::string savedViewsFile(const std::string& folder, const std::string& mapPath) {
    // A /vsicurl/ address's last part is its file name too.
    const std::string stem = fs::path(mapPath).stem().string();
    return (fs::path(folder) / (stem + "-" + mapPathHash(mapPath) + ".json")).string();
}

bool parseSavedViews(const std::string& json, std::vector<SavedView>& views, std::string& error) {
    const Json root = Json::parse(json, nullptr, false);
    if (root.is_discarded()) {
        error = "it is not JSON";
        return false;
    }
    if (!root.is_object() || !root.contains("views") || !root["views"].is_array()) {
        error = "it holds no \"views\" list";
        return false;
    }
    std::vector<SavedView> read;
    for (size_t index = 0; index < root["views"].size(); ++index) {
        SavedView view;
        std::string wrong;
        if (!readView(root["views"][index], view, wrong)) {
            // A view without a number of its own is found by its place in the list.
            error = wrong.rfind("view ", 0) == 0 ? wrong : "entry " + std::to_string(index + 1) + " of \"views\" " + wrong;
            return false;
        }
        if (viewNumbered(read, view.number) != read.end()) {
            error = "view " + std::to_string(view.number) + " is there twice";
            return false;
        }
        read.push_back(view);
    }
    std::sort(read.begin(), read.end(), [](const SavedView& a, const SavedView& b) { return a.number < b.number; });
    views = std::move(read);
    return true;
}

std::string savedViewsJson(const std::vector<SavedView>& views, const std::string& mapPath) {
    // One view a line, for a person who reads or mends the file.
    std::string lines;
    for (const SavedView& view : views) {
        Json entry{{"number", view.number},
                   {"name", view.name},
                   {"position", vectorJson(view.pose.position)},
                   {"direction", vectorJson(view.pose.direction)},
                   {"shading_mode", view.shadingMode}};
        if (view.pose.settings.exaggeration) entry["exaggeration"] = *view.pose.settings.exaggeration;
        if (view.pose.settings.sunTime) entry["sun_time"] = zonedTimeText(*view.pose.settings.sunTime);
        lines += (lines.empty() ? "\n    " : ",\n    ") + jsonText(entry);
    }
    return "{\n  \"map\": " + jsonText(Json(mapPath)) + ",\n  \"views\": [" + lines + (lines.empty() ? "" : "\n  ") +
           "]\n}\n";
}

SavedViews::SavedViews(const std::string& folder, const std::string& mapPath)
    : path(folder.empty() ? "" : savedViewsFile(folder, mapPath)), mapPath(absoluteMapPath(mapPath)) {
    if (!read(kept, damaged, readProblem)) kept.clear();
}

const SavedView* SavedViews::find(int number) const {
    for (const SavedView& view : kept) {
        if (view.number == number) return &view;
    }
    return nullptr;
}

const SavedView* SavedViews::find(const std::string& numberOrName) const {
    if (numberOrName.size() == 1 && numberOrName[0] >= '0' + FIRST_VIEW_NUMBER &&
        numberOrName[0] <= '0' + LAST_VIEW_NUMBER) {
        if (const SavedView* view = find(numberOrName[0] - '0')) return view;
    }
    for (const SavedView& view : kept) {
        if (view.name == numberOrName) return &view;
    }
    return nullptr;
}

std::optional<int> SavedViews::freeNumber() const {
    for (int number = FIRST_VIEW_NUMBER; number <= LAST_VIEW_NUMBER; ++number) {
        if (!find(number)) return number;
    }
    return std::nullopt;
}

bool SavedViews::read(std::vector<SavedView>& views, bool& isDamaged, std::string& problem) const {
    views.clear();
    isDamaged = false;
    problem.clear();
    if (path.empty()) return true;
    struct stat status;
    if (::stat(path.c_str(), &status) != 0) {
        if (errno == ENOENT) return true;
        problem = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    // A folder or a device in the file's place is no damaged file to move aside.
    if (!S_ISREG(status.st_mode)) {
        problem = "cannot read " + path + ": it is not a regular file";
        return false;
    }
    std::ifstream stream(path, std::ios::binary);
    if (!stream) {
        problem = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    const std::string text((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    if (stream.bad()) {
        problem = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string error;
    if (parseSavedViews(text, views, error)) return true;
    isDamaged = true;
    problem = path + " holds no views that can be read: " + error;
    return false;
}

bool SavedViews::change(const std::function<void(std::vector<SavedView>&)>& edit, std::string& message) {
    message.clear();
    if (path.empty()) {
        message = "no folder for saved views: neither XDG_DATA_HOME nor HOME is set";
        return false;
    }
    std::vector<SavedView> views;
    bool isDamaged = false;
    std::string problem;
    if (!read(views, isDamaged, problem)) {
        // A file that cannot be read at all might still hold views; it is left as it is.
        if (!isDamaged) {
            message = problem;
            return false;
        }
        const std::string aside = unusedPath(path + ".damaged", "");
        if (std::rename(path.c_str(), aside.c_str()) != 0) {
            message = "cannot move the damaged " + path + " aside to " + aside + ": " + std::strerror(errno);
            return false;
        }
        message = problem + "; moved it aside to " + aside;
    }
    edit(views);
    std::string error;
    std::error_code folderError;
    fs::create_directories(fs::path(path).parent_path(), folderError);
    if (folderError) {
        message = "cannot create the views folder " + fs::path(path).parent_path().string() + ": " +
                  folderError.message();
        return false;
    }
    if (!replaceFile(path, savedViewsJson(views, mapPath), error)) {
        message = error;
        return false;
    }
    kept = std::move(views);
    readProblem.clear();
    damaged = false;
    return true;
}

bool SavedViews::save(SavedView view, std::string& message) {
    return change(
        [&](std::vector<SavedView>& views) {
            const std::vector<SavedView>::iterator there = viewNumbered(views, view.number);
            if (there == views.end()) {
                views.push_back(view);
            } else {
                if (view.name.empty()) view.name = there->name;
                *there = view;
            }
            std::sort(views.begin(), views.end(),
                      [](const SavedView& a, const SavedView& b) { return a.number < b.number; });
        },
        message);
}

bool SavedViews::rename(int number, const std::string& name, std::string& message) {
    return change(
        [&](std::vector<SavedView>& views) {
            const std::vector<SavedView>::iterator there = viewNumbered(views, number);
            if (there != views.end()) there->name = name;
        },
        message);
}

bool SavedViews::remove(int number, std::string& message) {
    return change(
        [&](std::vector<SavedView>& views) {
            const std::vector<SavedView>::iterator there = viewNumbered(views, number);
            if (there != views.end()) views.erase(there);
        },
        message);
}
