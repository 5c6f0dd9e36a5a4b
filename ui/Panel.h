// The on-screen panel: where the camera is, what lies under the cursor, the map and the frame,
// drawn with Dear ImGui into the window after the final pass, so that bloom and tone mapping
// leave it untouched. Made when it is first shown, so that a run that never shows it draws,
// logs and reads input exactly as one without it.
#pragma once

#include "ui/PanelFacts.h"

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

    // Lays out and draws one frame of the panel into the bound framebuffer, over what it holds.
    void draw(const PanelFacts& facts);

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

    void drawMap(const PanelMap& map);
    void drawCamera(const PanelFacts& facts);
    void drawCursor(const PanelFacts& facts);
    void drawFrame(const PanelFacts& facts);
};
