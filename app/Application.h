// The one object that owns the window, the shared matrices and clock, and every scene
// and post-processing object; reached by all other code through Application::instance().
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/DigitChords.h"
#include "app/RenderObserver.h"
#include "app/TerrainOptions.h"
#include "gpu/DepthConvention.h"
#include "light/Sunlight.h"
#include "math/Math.h"
#include "post/BlurGrid.h"
#include "show/FollowOptions.h"

struct GLFWwindow;
class Camera;
class OrbitControl;
class Terrain;
class TerrainShader;
class Skydome;
class Atmosphere;
class Framebuffer;
class FinalProcessingEffect;
class GaussianBlurEffect;
class Panel;
class PathMeasuring;
class TrackLine;
class PathPlayback;
class PathRecorder;
class SavedViews;

// Whether setting the sun logs where it stands: each step of the keys and the panel does, a
// flight, which moves it every frame, does not.
enum class SunReport { Said, Quiet };

// The window start-up opens. The defaults are the program's own; tools that render without a
// person change them before start-up.
struct WindowSettings {
    int width = 800;
    int height = 600;
    bool isVisible = true;
    int swapInterval = 1;
};

class Application {
public:
    int samples = 0;
    GLFWwindow* window = nullptr;
    mat4 projection;
    mat4 modelview;
    // How the scene target's depth maps distance; start-up chooses it for the view distance.
    DepthConvention depthConvention = DepthConvention::Standard;
    // The objects start-up makes, owned here. Released (GL objects first, while the context lives)
    // when the application is destroyed, or one at a time when replaced.
    std::unique_ptr<TerrainShader> initialTerrainShader;
    std::unique_ptr<Camera> camera;
    // Moves the camera by the mouse while mouse-look is off; made with the terrain.
    std::unique_ptr<OrbitControl> orbitControl;
    std::unique_ptr<Terrain> terrain;
    // The sky image, and the fog's colour and distance; null where a sun is placed at start-up.
    std::unique_ptr<Skydome> skydome;
    // The physically based sky, drawn instead of the skydome while a sun is set; null otherwise.
    std::unique_ptr<Atmosphere> atmosphere;
    double time = 0;
    int argc = 0;
    char** argv = nullptr;
    int terrainMode = 0;
    std::unique_ptr<TerrainShader> terrainShaders[5];
    std::unique_ptr<Framebuffer> mainFramebuffer;
    std::unique_ptr<Framebuffer> blurFramebufferA;
    std::unique_ptr<Framebuffer> blurFramebufferB;
    std::unique_ptr<FinalProcessingEffect> finalProcessingEffect;
    std::unique_ptr<GaussianBlurEffect> gaussianBlurEffect;
    // Where the blur targets' texels lie over the scene target: the identity, unless a tool draws a
    // part of a larger picture, which blurs on the whole picture's texels.
    BlurGrid blurGrid;

    // The track followed (--follow), drawn on the ground; null without one, and once a map dropped
    // on the window replaces the one it lay on.
    std::unique_ptr<TrackLine> trackLine;
    // The path clicked on the ground and what it measures.
    std::unique_ptr<PathMeasuring> pathMeasuring;
    // Whether a plain left click lays the path (the panel's measure mode), besides Ctrl and a click.
    bool isMeasureModeOn = false;
    // The on-screen panel, made when it is first shown and kept while the program runs.
    std::unique_ptr<Panel> panel;
    bool isPanelShown = false;
    // Whether mouse-look was on when the panel was shown, to be restored when it is hidden.
    bool wasMouseLookEnabled = true;
    // Where the panel takes the cursor to be in a still, which has no pointer (pixels of the output
    // from its top left); unset in a window.
    std::optional<vec2> stillCursor;
    // Seconds the last frame took, for the panel.
    double frameSeconds = 0.0;
    // The flight the camera follows while one plays (--play): it takes the pose after the camera's
    // own update each frame, and is dropped when it ends.
    std::unique_ptr<PathPlayback> playback;
    // The flight being recorded (key R), which takes the pose each frame once it is final.
    std::unique_ptr<PathRecorder> recorder;

    // What the command line's options ask of the terrain and the view.
    TerrainOptions terrainOptions;
    // The views saved for the map drawn, read with each map; null in the tools, which keep none.
    std::unique_ptr<SavedViews> savedViews;
    // Which digit keys were pressed as chords (saving or recalling a view), not as the shading mode.
    DigitChords digitChords;
    // Where F12 writes its screenshots; empty: the working directory.
    std::string screenshotFolder;
    // F12 presses not answered yet: the next frame's picture is written, once for each, before the
    // panel is drawn over it.
    int screenshotsAsked = 0;
    // The track that run() follows once start-up has drawn the map; none asked for by default.
    FollowOptions followOptions;
    // Where the sun stands, when the options place it; none keeps the default scene's light and sky.
    std::optional<SunSetting> sun;

    WindowSettings windowSettings;
    // The framebuffer the final pass draws into: the window's own (0) unless a tool renders off-screen.
    unsigned int outputFramebuffer = 0;
    // The size the final pass fills: the window's framebuffer size, which may exceed the render
    // targets when they are held to the device's limits.
    int outputWidth = 0;
    int outputHeight = 0;
    // Where GLFW's error messages go when set; the program's own error callback otherwise.
    void (*glfwErrorCallback)(int code, const char* description) = nullptr;
    // Told of start-up phases and frame passes when set; never owned.
    RenderObserver* observer = nullptr;
    // Files dropped on the window, in the order they came, for the next frame to open: GLFW's
    // callback runs inside the event poll, where the terrain may be drawing or being built.
    std::vector<std::string> droppedFiles;
    // What the last file opened said, for the panel: the line logged for a map or a picture opened,
    // or why it could not be; empty before any.
    std::string lastOpenMessage;

    Application();
    // Releases everything it still owns (the context must be current, unless shutDown released
    // it all) and is no longer the registered instance.
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // The registered instance; ends the process when none is registered.
    static Application& instance();
    // Makes the given object the process-wide instance (null unregisters).
    static void registerInstance(Application* application);

    // Start-up, the flight along the track the follow options name (a track that cannot be
    // followed ends the program with its one line), the main loop, then shutDown.
    void run();
    // Releases every object start-up made, while the context they belong to is current, then
    // shuts the window system down.
    void shutDown();
    // Everything before the main loop: window, context, callbacks and all scene objects.
    void startUp();
    void mainLoop();
    // Opens the dropped files, first to last (openFile in app/FileOpening.h); each frame begins so.
    void openDroppedFiles();
    // Draws, post-processes and presents one frame.
    void renderFrame();
    // Every pass of one frame, ending with the final pass into outputFramebuffer; presents nothing.
    void composeFrame();

    // Places the sun as the options ask over the terrain now drawn: at the map's centre (or the
    // options' location) for a time, which needs a place, and lights the scene by it. `isStartUp`:
    // a time without a place ends the program with the line that says so; later (a map dropped
    // without a place) the sun keeps the place it had.
    void placeSun(bool isStartUp);
    // Moves the sun's time by `minutes` (a sun placed by angles stays) and says where it stands.
    void moveSunTime(long long minutes);
    // Sets the sun, says where it stands (unless quiet) and lights the scene by it.
    void setSun(const SunSetting& setting, SunReport report = SunReport::Said);
    // Lights the terrain now drawn by the sun set, if any: for a terrain that replaced another.
    void lightTerrain();

    // Starts recording the flight, or ends the recording and saves it beside the working
    // directory's files (recordingFileName), saying where or why it could not (key R; a recording
    // still running when the window closes is saved too).
    void toggleRecording();

    // Shows or hides the panel. While it is shown the cursor is free; hiding it restores mouse-look
    // as it was before.
    void showPanel(bool shown);
    // The program's name as its diagnostics begin: kelta, or the tool that runs its start-up.
    std::string programName() const;

    void startupPhaseEnded(const char* phase) {
        if (observer) observer->startupPhaseEnded(phase);
    }
    void framePassEnded(FramePass pass) {
        if (observer) observer->framePassEnded(pass);
    }
};
