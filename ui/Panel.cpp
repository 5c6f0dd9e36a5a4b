#include "ui/Panel.h"

#include <GLFW/glfw3.h>
#include <backends/imgui_impl_glfw.h>
#include <backends/imgui_impl_opengl3.h>
#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "ui/PathMeasuring.h"

namespace {

constexpr float PI = 3.14159265358979f;

// The panel's sections open as the reader finds them.
constexpr ImGuiTreeNodeFlags OPEN = ImGuiTreeNodeFlags_DefaultOpen;

// "8.03973 S, 34.91618 W", after `prefix`.
void latitudeLongitudeLine(double latitude, double longitude, const char* prefix = "") {
    ImGui::Text("%s%.5f %s, %.5f %s", prefix, std::fabs(latitude), latitude < 0 ? "S" : "N", std::fabs(longitude),
                longitude < 0 ? "W" : "E");
}

// The point's map coordinates, and its latitude and longitude where the map has them.
void placeLines(const GroundPoint& place) {
    ImGui::Text(place.geographic ? "%.5f, %.5f" : "%.1f, %.1f", place.mapPoint[0], place.mapPoint[1]);
    if (place.latitudeLongitude) latitudeLongitudeLine((*place.latitudeLongitude)[0], (*place.latitudeLongitude)[1]);
}

// A compass rose whose needle points north for a viewer looking `headingDegrees` clockwise from it.
void drawCompass(double headingDegrees) {
    const float radius = ImGui::GetFontSize() * 1.6f;
    const ImVec2 corner = ImGui::GetCursorScreenPos();
    const ImVec2 centre{corner.x + radius, corner.y + radius};
    ImDrawList& drawn = *ImGui::GetWindowDrawList();
    drawn.AddCircle(centre, radius, IM_COL32(220, 220, 220, 255), 32, 1.5f);
    // North lies at minus the heading from straight ahead (up on the screen).
    const float angle = -static_cast<float>(headingDegrees) * PI / 180.0f;
    const ImVec2 along{std::sin(angle), -std::cos(angle)};
    const ImVec2 across{-along.y, along.x};
    const float needle = radius * 0.85f, half = radius * 0.22f;
    const ImVec2 tip{centre.x + along.x * needle, centre.y + along.y * needle};
    const ImVec2 tail{centre.x - along.x * needle, centre.y - along.y * needle};
    const ImVec2 left{centre.x + across.x * half, centre.y + across.y * half};
    const ImVec2 right{centre.x - across.x * half, centre.y - across.y * half};
    drawn.AddTriangleFilled(tip, left, right, IM_COL32(230, 60, 50, 255));
    drawn.AddTriangleFilled(tail, right, left, IM_COL32(200, 200, 200, 255));
    const ImVec2 label{tip.x - ImGui::CalcTextSize("N").x * 0.5f + along.x * 8.0f,
                       tip.y - ImGui::GetFontSize() * 0.5f + along.y * 8.0f};
    drawn.AddText(label, IM_COL32(255, 255, 255, 255), "N");
    ImGui::Dummy(ImVec2{radius * 2.0f, radius * 2.0f + 4.0f});
}

}  // namespace

Panel::Panel(GLFWwindow* window) : window(window) {
    IMGUI_CHECKVERSION();
    context = ImGui::CreateContext();
    ImGui::SetCurrentContext(context);
    ImGuiIO& io = ImGui::GetIO();
    // The panel keeps no settings file: a run leaves nothing behind.
    io.IniFilename = nullptr;
    io.LogFilename = nullptr;
    ImGui::StyleColorsDark();
    ImGui::GetStyle().WindowRounding = 4.0f;

    // Text as large on a dense monitor as on an ordinary one.
    float scaleX = 1.0f, scaleY = 1.0f;
    glfwGetWindowContentScale(window, &scaleX, &scaleY);
    const float scale = std::max(1.0f, std::max(scaleX, scaleY));
    std::error_code missing;
    if (std::filesystem::is_regular_file(FONT_FILE, missing)) {
        io.Fonts->AddFontFromFileTTF(FONT_FILE, FONT_PIXELS * scale);
    } else {
        ImFontConfig config;
        config.SizePixels = 13.0f * scale;
        io.Fonts->AddFontDefault(&config);
    }
    ImGui::GetStyle().ScaleAllSizes(scale);

    // The program's own callbacks stay in place and hand input on while the panel is shown.
    ImGui_ImplGlfw_InitForOpenGL(window, false);
    ImGui_ImplOpenGL3_Init("#version 330");
}

Panel::~Panel() {
    ImGui::SetCurrentContext(context);
    ImGui_ImplOpenGL3_Shutdown();
    ImGui_ImplGlfw_Shutdown();
    ImGui::DestroyContext(context);
}

bool Panel::wantsMouse() const {
    ImGui::SetCurrentContext(context);
    return ImGui::GetIO().WantCaptureMouse;
}

bool Panel::wantsKeyboard() const {
    ImGui::SetCurrentContext(context);
    return ImGui::GetIO().WantCaptureKeyboard;
}

void Panel::mouseButton(int button, int action, int mods) {
    ImGui::SetCurrentContext(context);
    ImGui_ImplGlfw_MouseButtonCallback(window, button, action, mods);
}

void Panel::scroll(double xOffset, double yOffset) {
    ImGui::SetCurrentContext(context);
    ImGui_ImplGlfw_ScrollCallback(window, xOffset, yOffset);
}

void Panel::key(int key, int scancode, int action, int mods) {
    ImGui::SetCurrentContext(context);
    ImGui_ImplGlfw_KeyCallback(window, key, scancode, action, mods);
}

void Panel::character(unsigned int codepoint) {
    ImGui::SetCurrentContext(context);
    ImGui_ImplGlfw_CharCallback(window, codepoint);
}

PanelRequests Panel::draw(const PanelFacts& facts, ViewSettings& settings, const PathMeasuring& path,
                          bool& measureMode) {
    PanelRequests requests;
    ImGui::SetCurrentContext(context);
    ImGui_ImplOpenGL3_NewFrame();
    ImGui_ImplGlfw_NewFrame();
    ImGui::NewFrame();

    const float margin = ImGui::GetFontSize() * 0.6f;
    ImGui::SetNextWindowPos(ImVec2{margin, margin}, ImGuiCond_FirstUseEver);
    ImGui::SetNextWindowBgAlpha(0.78f);
    ImGui::Begin("KELTA", nullptr, ImGuiWindowFlags_AlwaysAutoResize | ImGuiWindowFlags_NoFocusOnAppearing);
    drawMap(facts.map);
    drawCamera(facts);
    drawCursor(facts);
    drawMeasuring(path, measureMode, requests);
    drawSettings(facts, settings);
    drawSun(facts, settings);
    if (facts.views) drawViews(*facts.views, requests);
    drawFrame(facts);
    if (!facts.message.empty()) {
        ImGui::Separator();
        ImGui::PushTextWrapPos(ImGui::GetFontSize() * 22.0f);
        ImGui::TextUnformatted(facts.message.c_str());
        ImGui::PopTextWrapPos();
    }
    ImGui::End();

    ImGui::Render();
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
    return requests;
}

void Panel::drawMap(const PanelMap& map) {
    if (!ImGui::CollapsingHeader("Map", OPEN)) return;
    ImGui::TextUnformatted(map.fileName.c_str());
    ImGui::Text("%d x %d samples", map.width, map.height);
    ImGui::TextUnformatted(map.coordinateSystem.empty() ? "No coordinate system (grid units)"
                                                         : map.coordinateSystem.c_str());
    ImGui::Text("Spacing %s x %s", formatLength(map.columnSpacing, map.inMetres).c_str(),
                formatLength(map.rowSpacing, map.inMetres).c_str());
    ImGui::Text("Elevation %s to %s", formatLength(map.lowest, map.inMetres).c_str(),
                formatLength(map.highest, map.inMetres).c_str());
}

void Panel::drawCamera(const PanelFacts& facts) {
    if (!ImGui::CollapsingHeader("Camera", OPEN)) return;
    const PanelCamera& camera = facts.camera;
    const bool inMetres = facts.map.inMetres;
    ImGui::BeginGroup();
    placeLines(camera.place);
    if (!camera.place.onMap) ImGui::TextUnformatted("Beyond the map");
    ImGui::Text("%s above sea", formatLength(camera.heightAboveSea, inMetres).c_str());
    if (camera.heightAboveGround) {
        ImGui::Text("%s above ground", formatLength(*camera.heightAboveGround, inMetres).c_str());
    } else {
        ImGui::TextUnformatted("Above no ground");
    }
    ImGui::Text("Heading %.0f deg", camera.headingDegrees);
    ImGui::EndGroup();
    ImGui::SameLine(0.0f, ImGui::GetFontSize() * 1.5f);
    drawCompass(camera.headingDegrees);
}

void Panel::drawCursor(const PanelFacts& facts) {
    if (!ImGui::CollapsingHeader("Under the cursor", OPEN)) return;
    const GroundPoint& point = facts.cursor;
    const bool inMetres = facts.map.inMetres;
    if (!point.onMap) {
        ImGui::TextUnformatted("off the map");
    } else {
        placeLines(point);
        if (point.elevation) {
            ImGui::Text("%s, slope %.1f deg", formatLength(*point.elevation, inMetres).c_str(), point.slopeDegrees);
        } else {
            ImGui::TextUnformatted("no data");
        }
    }
    double length = 0.0, pixels = 0.0;
    const float longest = ImGui::GetFontSize() * 10.0f;
    if (facts.groundPerPixel && chooseScaleBar(*facts.groundPerPixel, longest, length, pixels)) {
        const ImVec2 start = ImGui::GetCursorScreenPos();
        const float tick = ImGui::GetFontSize() * 0.4f;
        const float y = start.y + tick;
        const float end = start.x + static_cast<float>(pixels);
        ImDrawList& drawn = *ImGui::GetWindowDrawList();
        const ImU32 white = IM_COL32(255, 255, 255, 255);
        drawn.AddLine(ImVec2{start.x, y}, ImVec2{end, y}, white, 2.0f);
        drawn.AddLine(ImVec2{start.x, y - tick}, ImVec2{start.x, y + tick}, white, 2.0f);
        drawn.AddLine(ImVec2{end, y - tick}, ImVec2{end, y + tick}, white, 2.0f);
        ImGui::Dummy(ImVec2{longest, tick * 2.0f});
        ImGui::Text("%s at the centre of the view", formatLength(length, inMetres).c_str());
    }
}

void Panel::drawFrame(const PanelFacts& facts) {
    // A still has no frame time and an unstreamed map no tiles: nothing to say.
    if (facts.frameSeconds <= 0.0 && !facts.tiles) return;
    if (!ImGui::CollapsingHeader("Frame", OPEN)) return;
    if (facts.frameSeconds > 0.0) {
        ImGui::Text("%.1f ms, %.0f frames per second", facts.frameSeconds * 1000.0, 1.0 / facts.frameSeconds);
    }
    if (facts.tiles) {
        const PanelTiles& tiles = *facts.tiles;
        ImGui::Text("Tiles: %llu wanted, %llu loading, %llu held", static_cast<unsigned long long>(tiles.wanted),
                    static_cast<unsigned long long>(tiles.loading), static_cast<unsigned long long>(tiles.held));
        ImGui::Text("Cache: %.1f of %.1f MB", tiles.cacheUsedMegabytes, tiles.cacheMegabytes);
    }
}

namespace {

// A distance of the path in its unit: metres, or grid steps on an image map.
std::string pathLength(double length, bool inMetres) {
    return inMetres ? formatLength(length, true) : formatLength(length, false);
}

void stretchLines(const Stretch& stretch, bool inMetres) {
    ImGui::Text("Ground %s, straight %s", pathLength(stretch.ground, inMetres).c_str(),
                pathLength(stretch.straight, inMetres).c_str());
    if (stretch.rise) ImGui::Text("Height difference %s", pathLength(*stretch.rise, inMetres).c_str());
    if (stretch.highest && stretch.lowest) {
        ImGui::Text("Highest %s, lowest %s", pathLength(stretch.highest->elevation, inMetres).c_str(),
                    pathLength(stretch.lowest->elevation, inMetres).c_str());
    }
    if (stretch.overVoids > 0.0) ImGui::Text("%s over no data", pathLength(stretch.overVoids, inMetres).c_str());
}

}  // namespace

void Panel::drawMeasuring(const PathMeasuring& path, bool& measureMode, PanelRequests& requests) {
    if (!ImGui::CollapsingHeader("Measure", OPEN)) return;
    ImGui::Checkbox("Click to lay a path (or Ctrl and click)", &measureMode);
    const PathMeasure& measure = path.measure();
    const bool inMetres = path.isInMetres();
    if (path.points().empty()) {
        ImGui::TextUnformatted("No path");
        return;
    }
    for (size_t leg = 0; leg < measure.legs.size(); ++leg) {
        if (ImGui::TreeNode(reinterpret_cast<void*>(leg), "Leg %zu", leg + 1)) {
            stretchLines(measure.legs[leg], inMetres);
            ImGui::TreePop();
        }
    }
    if (!measure.legs.empty()) {
        ImGui::Text("Whole path, %zu points:", path.points().size());
        stretchLines(measure.whole, inMetres);
        const std::vector<float> profile = evenProfile(measure.profile, 200);
        if (!profile.empty()) {
            const std::string caption = "0 to " + pathLength(measure.profile.back().distance, inMetres);
            ImGui::PlotLines("##profile", profile.data(), static_cast<int>(profile.size()), 0, caption.c_str(),
                             FLT_MAX, FLT_MAX, ImVec2{ImGui::GetFontSize() * 18.0f, ImGui::GetFontSize() * 5.0f});
        }
        ImGui::SetNextItemWidth(ImGui::GetFontSize() * 12.0f);
        ImGui::InputText("##profileFile", profileFile, sizeof profileFile);
        ImGui::SameLine();
        if (ImGui::Button("Save profile")) requests.profileFile = profileFile;
        if (!profileLine.empty()) ImGui::TextWrapped("%s", profileLine.c_str());
    }
    if (ImGui::Button("Clear path")) {
        requests.clearPath = true;
        profileLine.clear();
    }
}

void Panel::drawViews(const PanelViews& views, PanelRequests& requests) {
    if (!ImGui::CollapsingHeader("Views", OPEN)) return;
    if (views.views.empty()) ImGui::TextUnformatted("No saved views");
    for (const SavedView& view : views.views) {
        ImGui::PushID(view.number);
        ImGui::AlignTextToFramePadding();
        ImGui::Text("%d", view.number);
        ImGui::SameLine();
        // The name being typed is the panel's own until its editing ends; the others show the file's.
        char shown[sizeof viewNameDraft];
        char* name = editedView == view.number ? viewNameDraft : shown;
        if (name == shown) std::snprintf(shown, sizeof shown, "%s", view.name.c_str());
        ImGui::SetNextItemWidth(ImGui::GetFontSize() * 10.0f);
        ImGui::InputTextWithHint("##name", "name", name, sizeof viewNameDraft);
        if (ImGui::IsItemActivated()) {
            editedView = view.number;
            std::snprintf(viewNameDraft, sizeof viewNameDraft, "%s", view.name.c_str());
        }
        if (ImGui::IsItemDeactivated() && editedView == view.number) {
            if (ImGui::IsItemDeactivatedAfterEdit()) requests.renameView = std::make_pair(view.number, std::string(name));
            editedView = 0;
        }
        ImGui::SameLine();
        if (ImGui::Button("Go")) requests.recallView = view.number;
        ImGui::SameLine();
        if (ImGui::Button("Delete")) requests.removeView = view.number;
        ImGui::PopID();
    }
    if (views.freeNumber) {
        const std::string label = "Save the view as " + std::to_string(*views.freeNumber);
        if (ImGui::Button(label.c_str())) requests.saveView = *views.freeNumber;
    } else {
        ImGui::TextUnformatted("All nine numbers are taken");
    }
    ImGui::TextDisabled("Ctrl and a digit saves, Alt and a digit flies there");
    if (!views.problem.empty()) {
        ImGui::PushTextWrapPos(ImGui::GetFontSize() * 22.0f);
        ImGui::TextUnformatted(views.problem.c_str());
        ImGui::PopTextWrapPos();
    }
}

void Panel::drawSun(const PanelFacts& facts, ViewSettings& settings) {
    if (!facts.sun || !ImGui::CollapsingHeader("Sun", OPEN)) return;
    const SunSetting& sun = *facts.sun;
    ImGui::Text("Azimuth %.1f\u00b0, altitude %.1f\u00b0", sun.position.azimuthDegrees, sun.position.altitudeDegrees);
    if (!settings.sunTime) {
        ImGui::TextUnformatted("Placed by its angles");
        return;
    }
    latitudeLongitudeLine(sun.place.latitudeDegrees, sun.place.longitudeDegrees, "At ");
    const int offset = settings.sunTime->offsetMinutes;
    CivilTime civil = civilTimeOf(*settings.sunTime);
    ImGui::PushItemWidth(ImGui::GetFontSize() * 11.0f);
    int date[3] = {civil.year, civil.month, civil.day};
    bool changed = ImGui::InputInt3("Date (Y M D)", date);
    int minutes = civil.hour * 60 + civil.minute;
    char clock[16];
    std::snprintf(clock, sizeof clock, "%02d:%02d", civil.hour, civil.minute);
    changed |= ImGui::SliderInt("Time", &minutes, 0, 24 * 60 - 1, clock, ImGuiSliderFlags_AlwaysClamp);
    ImGui::PopItemWidth();
    ImGui::Text("UTC%c%02d:%02d", offset < 0 ? '-' : '+', std::abs(offset) / 60, std::abs(offset) % 60);
    if (!changed) return;
    civil.year = date[0];
    civil.month = date[1];
    civil.day = date[2];
    civil.hour = minutes / 60;
    civil.minute = minutes % 60;
    // A date still being typed (month 13, 31 June) leaves the time as it was.
    if (const std::optional<ZonedTime> time = zonedTimeOf(civil, offset)) settings.sunTime = time;
}

void Panel::drawSettings(const PanelFacts& facts, ViewSettings& settings) {
    if (!ImGui::CollapsingHeader("Settings")) return;
    const float width = ImGui::GetFontSize() * 11.0f;
    ImGui::PushItemWidth(width);
    float exaggeration = static_cast<float>(settings.exaggeration);
    if (ImGui::SliderFloat("Exaggeration", &exaggeration, 0.1f, 100.0f, "%.3g", ImGuiSliderFlags_Logarithmic)) {
        settings.exaggeration = std::clamp(double(exaggeration), LEAST_EXAGGERATION, GREATEST_EXAGGERATION);
    }
    if (facts.hasElevation) {
        bool hasSea = settings.seaLevelMetres.has_value();
        if (ImGui::Checkbox("Sea", &hasSea)) settings.seaLevelMetres = hasSea ? std::optional<double>(0.0) : std::nullopt;
        if (settings.seaLevelMetres) {
            ImGui::SameLine();
            // A sea lowered below the one the map was read with reads the map again, so the level
            // is taken when the drag ends, not at every step of it.
            if (!ImGui::IsAnyItemActive() || !isDraggingSea) seaLevelDraft = static_cast<float>(*settings.seaLevelMetres);
            ImGui::SetNextItemWidth(width - ImGui::GetCursorPosX() + ImGui::GetStyle().WindowPadding.x);
            ImGui::DragFloat("Sea level (m)", &seaLevelDraft, 1.0f, -12000.0f, 12000.0f, "%.0f",
                             ImGuiSliderFlags_AlwaysClamp);
            isDraggingSea = ImGui::IsItemActive();
            if (ImGui::IsItemDeactivatedAfterEdit()) settings.seaLevelMetres = seaLevelDraft;
        }
        float snow = static_cast<float>(settings.snowLineMetres);
        if (ImGui::DragFloat("Snow line (m)", &snow, 10.0f, 1.0f, 10000.0f, "%.0f", ImGuiSliderFlags_AlwaysClamp)) {
            settings.snowLineMetres = snow;
        }
    }
    ImGui::SliderFloat("View distance", &settings.viewDistance, 10.0f, 1.0e6f, "%.0f",
                       ImGuiSliderFlags_Logarithmic | ImGuiSliderFlags_AlwaysClamp);
    if (facts.hasErrorBudget) {
        ImGui::SliderFloat("Error (pixels)", &settings.errorPixels, 0.25f, 32.0f, "%.2f",
                           ImGuiSliderFlags_Logarithmic | ImGuiSliderFlags_AlwaysClamp);
    }
    const char* const modes[] = {"1 points", "2 points", "3 height as grey", "4 lighting", "5 full"};
    int mode = settings.shadingMode - 1;
    if (ImGui::Combo("Shading", &mode, modes, 5)) settings.shadingMode = mode + 1;
    const char* const views[] = {"bloom", "no bloom", "bright pass", "blurred bloom"};
    ImGui::Combo("View", &settings.view, views, 4);
    ImGui::SliderFloat("Bloom gain", &settings.bloomGain, 0.0f, 5.0f, "%.2f", ImGuiSliderFlags_AlwaysClamp);
    ImGui::SliderFloat("Bloom threshold", &settings.bloomThreshold, 0.0f, 2.0f, "%.2f", ImGuiSliderFlags_AlwaysClamp);
    ImGui::SliderFloat("Camera speed", &settings.cameraSpeed, 0.1f, 10000.0f, "%.1f",
                       ImGuiSliderFlags_Logarithmic | ImGuiSliderFlags_AlwaysClamp);
    ImGui::PopItemWidth();
}
