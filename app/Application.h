// The one object that owns the window, the shared matrices and clock, and every scene
// and post-processing object; reached by all other code through Application::instance().
#pragma once

#include "app/RenderObserver.h"
#include "app/TerrainOptions.h"
#include "gpu/DepthConvention.h"
#include "math/Math.h"

struct GLFWwindow;
class Camera;
class Terrain;
class TerrainShader;
class Skydome;
class Framebuffer;
class FinalProcessingEffect;
class GaussianBlurEffect;

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
    TerrainShader* initialTerrainShader = nullptr;
    Camera* camera = nullptr;
    Terrain* terrain = nullptr;
    Skydome* skydome = nullptr;
    double time = 0;
    int argc = 0;
    char** argv = nullptr;
    int terrainMode = 0;
    TerrainShader* terrainShaders[5] = {};
    Framebuffer* mainFramebuffer = nullptr;
    Framebuffer* blurFramebufferA = nullptr;
    Framebuffer* blurFramebufferB = nullptr;
    FinalProcessingEffect* finalProcessingEffect = nullptr;
    GaussianBlurEffect* gaussianBlurEffect = nullptr;

    // What the command line's options ask of the terrain and the view.
    TerrainOptions terrainOptions;

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

    // The registered instance; ends the process when none is registered.
    static Application& instance();
    // Makes the given object the process-wide instance (null unregisters).
    static void registerInstance(Application* application);

    // Start-up, main loop, then shutting the window system down.
    void run();
    // Everything before the main loop: window, context, callbacks and all scene objects.
    void startUp();
    void mainLoop();
    // Draws, post-processes and presents one frame.
    void renderFrame();
    // Every pass of one frame, ending with the final pass into outputFramebuffer; presents nothing.
    void composeFrame();

    void startupPhaseEnded(const char* phase) {
        if (observer) observer->startupPhaseEnded(phase);
    }
    void framePassEnded(FramePass pass) {
        if (observer) observer->framePassEnded(pass);
    }
};
