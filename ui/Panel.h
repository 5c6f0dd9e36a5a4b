// The on-screen panel: where the camera is, what lies under the cursor, the map and the frame,
// drawn with Dear ImGui into the window after the final pass, so that bloom and tone mapping
// leave it untouched. Made when it is first shown, so that a run that never shows it draws,
// logs and reads input exactly as one without it.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "app/ViewSettings.h"
#include "ui/PanelFacts.h"

class PathMeasuring;

// What the reader asked of the panel in one frame, besides the settings it changed.
struct PanelRequests {
    bool clearPath = false;
    // A file to save the path's profile to, as CSV; empty for none.
    std::string profileFile;
    // A saved view to fly to, a number to save the view shown under, a view to delete, and a view's
    // new name once its editing ends.
    std::optional<int> recallView;
    std::optional<int> saveView;
    std::optional<int> removeView;
    std::optional<std::pair<int, std::string>> renameView;
};

struct GLFWwindow;
struct ImGuiContext;

class Panel {
public:
    // The font the panel is written in, when the system has it; ImGui's own otherwise.
    static constexpr const char* FONT_FILE = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    static constexpr float FONT_PIXELS = 15.0f;

    // Makes the panel's context and its GL objects in the window's context, which must be current.
    explicit Panel(GLFWwindow* window);
    // Releases them; the context that made them must be current.
    ~Panel();
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;

    // Lays out and draws one frame of the panel into the bound framebuffer, over what it holds:
    // the facts, the settings (which the reader may change), the measured path and its measure mode
    // (which the reader may switch).
    PanelRequests draw(const PanelFacts& facts, ViewSettings& settings, const PathMeasuring& path, bool& measureMode);
    // A line shown under the measured path until the next: what saving its profile did.
    void sayOfProfile(const std::string& line) { profileLine = line; }

    // Whether the pointer or the keyboard is busy with the panel, so that the view leaves them alone.
    bool wantsMouse() const;
    bool wantsKeyboard() const;

    // The window system's input, handed on while the panel is shown.
    void mouseButton(int button, int action, int mods);
    void scroll(double xOffset, double yOffset);
    void key(int key, int scancode, int action, int mods);
    void character(unsigned int codepoint);

private:
    GLFWwindow* window;
    ImGuiContext* context = nullptr;
    // The file the profile is saved to, as the reader typed it.
    char profileFile[512] = "profile.csv";
    std::string profileLine;
    // The name of the saved view being edited (0: none) while its editing lasts.
    int editedView = 0;
    char viewNameDraft[128] = "";
    // The sea level while its drag lasts.
    float seaLevelDraft = 0.0f;
    bool isDraggingSea = false;

    void drawMap(const PanelMap& map);
    void drawCamera(const PanelFacts& facts);
    void drawCursor(const PanelFacts& facts);
    void drawFrame(const PanelFacts& facts);
    void drawSettings(const PanelFacts& facts, ViewSettings& settings);
    void drawSun(const PanelFacts& facts, ViewSettings& settings);
    void drawMeasuring(const PathMeasuring& path, bool& measureMode, PanelRequests& requests);
    void drawViews(const PanelViews& views, PanelRequests& requests);
};
