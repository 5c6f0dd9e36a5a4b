#include "ui/Panel.h"

#include <GLFW/glfw3.h>
#include <backends/imgui_impl_glfw.h>
#include <backends/imgui_impl_opengl3.h>
#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace {

constexpr float PI = 3.14159265358979f;

// The panel's sections open as the reader finds them.
constexpr ImGuiTreeNodeFlags OPEN = ImGuiTreeNodeFlags_DefaultOpen;

// "-7.98123, -34.84560", or nothing for a map without a coordinate system.
void placeLines(const MapPlace& place, bool inMetres) {
    ImGui::Text(inMetres ? "%.1f, %.1f" : "%.2f, %.2f", place.x, place.y);
    if (place.latitude && place.longitude) {
        ImGui::Text("%.5f%s, %.5f%s", std::fabs(*place.latitude), *place.latitude < 0 ? " S" : " N",
                    std::fabs(*place.longitude), *place.longitude < 0 ? " W" : " E");
    }
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

void Panel::draw(const PanelFacts& facts) {
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
    placeLines(camera.place, inMetres);
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
    const PanelPoint& point = facts.cursor;
    const bool inMetres = facts.map.inMetres;
    if (!point.isOnMap) {
        ImGui::TextUnformatted("off the map");
    } else {
        placeLines(point.place, inMetres);
        if (point.hasData) {
            ImGui::Text("%s, slope %.1f deg", formatLength(point.elevation, inMetres).c_str(), point.slopeDegrees);
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
