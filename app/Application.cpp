// Start-up order, the main loop and the pass order of one frame.
#include "app/Application.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include <array>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "app/Callbacks.h"
#include "app/ContextVersion.h"
#include "app/FileOpening.h"
#include "app/SavedViewCommands.h"
#include "app/Screenshot.h"
#include "app/ViewSettings.h"
#include "io/AtomicFile.h"
#include "io/Fatal.h"
#include "io/Pyramid.h"
#include "light/Atmosphere.h"
#include "math/Camera.h"
#include "math/OrbitControl.h"
#include "post/FinalProcessingEffect.h"
#include "post/Framebuffer.h"
#include "post/GaussianBlurEffect.h"
#include "scene/Skydome.h"
#include "scene/Terrain.h"
#include "scene/TerrainShader.h"
#include "scene/TrackLine.h"
#include "show/PathPlayback.h"
#include "show/PathRecorder.h"
#include "show/SavedViews.h"
#include "show/TrackFollowing.h"
#include "ui/Panel.h"
#include "ui/PathMeasuring.h"

namespace {

Application* registeredApplication = nullptr;

// Says that the flight has ended, and where it left the sun when it moved it.
void endFlight(Application& app) {
    const bool movedSun = app.playback->setsSunTime();
    app.playback.reset();
    std::cout << "Flight ended" << std::endl;
    if (movedSun && app.sun && app.sun->time) std::cout << sunLine(*app.sun) << std::endl;
}

}  // namespace

Application& Application::instance() {
    if (!registeredApplication) fatalWithoutNewline("Application not initialized.");
    return *registeredApplication;
}

Application::Application() = default;

Application::~Application() {
    if (registeredApplication == this) registeredApplication = nullptr;
}

void Application::registerInstance(Application* application) { registeredApplication = application; }

std::string Application::programName() const {
    if (argc < 1 || argv == nullptr) return "kelta";
    return std::filesystem::path(argv[0]).filename().string();
}

void Application::run() {
    startUp();
    // The program keeps views; the tools that run its start-up render without them.
    openSavedViews(*this);
    if (followOptions.isAsked()) {
        std::string error;
        const std::optional<CameraPath> path = followTrack(*this, followOptions, error);
        if (!path) fatal(error);
        // The main loop's clock starts at 0 with its first frame, and so does the flight.
        playback = std::make_unique<PathPlayback>(*path, 0.0);
    }
    mainLoop();
    shutDown();
}

void Application::shutDown() {
    Application& app = instance();
    app.playback.reset();
    app.recorder.reset();
    app.panel.reset();
    app.trackLine.reset();
    app.pathMeasuring.reset();
    app.savedViews.reset();
    // The terrain first: its surfaces draw with the programs below and read the camera.
    app.terrain.reset();
    app.skydome.reset();
    app.atmosphere.reset();
    app.orbitControl.reset();
    app.camera.reset();
    app.gaussianBlurEffect.reset();
    app.finalProcessingEffect.reset();
    app.blurFramebufferA.reset();
    app.blurFramebufferB.reset();
    app.mainFramebuffer.reset();
    for (std::unique_ptr<TerrainShader>& shader : app.terrainShaders) shader.reset();
    app.initialTerrainShader.reset();
    glfwTerminate();
}

void Application::startUp() {
    Application& app = instance();

    glfwSetErrorCallback(app.glfwErrorCallback ? app.glfwErrorCallback : errorCallback);
    if (!glfwInit()) std::exit(1);

    app.samples = 4;
    // The window itself stays single-sampled; anti-aliasing happens in the scene target.
    glfwWindowHint(GLFW_SAMPLES, 0);
    if (!app.windowSettings.isVisible) glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    app.window = glfwCreateWindow(app.windowSettings.width, app.windowSettings.height, "KELTA", nullptr, nullptr);
    if (!app.window) {
        glfwTerminate();
        std::exit(1);
    }
    glfwMakeContextCurrent(app.window);
    const GLenum glewResult = glewInit();

    const GLubyte* renderer = glGetString(GL_RENDERER);
    const GLubyte* version = glGetString(GL_VERSION);
    std::cout << "Device: " << renderer << std::endl;
    std::cout << "OpenGL version: " << version << std::endl << std::endl;
    if (glewInitFailed(glewResult)) {
        fatal(std::string("Could not load the OpenGL entry points: ") +
              reinterpret_cast<const char*>(glewGetErrorString(glewResult)));
    }
    requireContextVersion();
    app.depthConvention = chooseDepthConvention(app.terrainOptions.viewDistance, TerrainOptions().viewDistance);
    applyDepthConvention(app.depthConvention);

    glfwSwapInterval(app.windowSettings.swapInterval);
    glfwSetKeyCallback(app.window, keyCallback);
    glfwSetCharCallback(app.window, characterCallback);
    glfwSetMouseButtonCallback(app.window, mouseButtonCallback);
    glfwSetCursorPosCallback(app.window, cursorPositionCallback);
    glfwSetScrollCallback(app.window, scrollCallback);
    glfwSetDropCallback(app.window, dropCallback);
    glfwSetFramebufferSizeCallback(app.window, framebufferSizeCallback);
    app.startupPhaseEnded("window and context");

    if (app.samples > 0) {
        app.mainFramebuffer = std::make_unique<FramebufferMultisampled>(2, true);
    } else {
        app.mainFramebuffer = std::make_unique<Framebuffer>(2, true);
    }

    glfwSetInputMode(app.window, GLFW_CURSOR, GLFW_CURSOR_DISABLED);
    glEnable(GL_DEPTH_TEST);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glEnable(GL_CULL_FACE);

    // Each terrain program reads the mode while it is built.
    for (int mode = 1; mode <= 5; ++mode) {
        instance().terrainMode = mode;
        app.terrainShaders[mode - 1] = std::make_unique<TerrainShader>();
    }
    app.initialTerrainShader = std::make_unique<TerrainShader>();
    app.startupPhaseEnded("shader builds");

    // The terrain places the camera, so the camera comes first.
    app.camera = std::make_unique<Camera>();
    app.terrain = std::make_unique<Terrain>(app.initialTerrainShader.get());
    // The one place that says what ground the mouse navigates over: the terrain drawn when it acts,
    // looked up each time, since a dropped map replaces it.
    app.orbitControl = std::make_unique<OrbitControl>(
        [](const vec3& origin, const vec3& direction) -> std::optional<vec3> {
            const std::optional<GroundHit> hit = instance().terrain->pick(origin, direction);
            if (!hit) return std::nullopt;
            return hit->point;
        },
        [](float x, float z) { return instance().terrain->heightAt(x, z); });
    app.pathMeasuring = std::make_unique<PathMeasuring>();
    // A sun placed at start-up stays for the run, and the atmosphere draws its sky: the sky dome
    // and its image would never be drawn.
    if (!app.terrainOptions.isSunPlaced()) app.skydome = std::make_unique<Skydome>();
    app.placeSun(true);
    app.startupPhaseEnded("sky");

    app.finalProcessingEffect = std::make_unique<FinalProcessingEffect>(std::make_unique<FinalProcessingShader>());
    app.gaussianBlurEffect = std::make_unique<GaussianBlurEffect>();
    app.startupPhaseEnded("shader builds");

    app.blurFramebufferA = std::make_unique<Framebuffer>(1, false);
    app.blurFramebufferB = std::make_unique<Framebuffer>(1, false);

    int width = 0, height = 0;
    glfwGetFramebufferSize(app.window, &width, &height);
    framebufferSizeCallback(app.window, width, height);
    app.startupPhaseEnded("render targets");
}

void Application::mainLoop() {
    std::cout << std::endl << "Main loop started" << std::endl << std::endl;
    glfwSetTime(0.0);
    double previousTime = glfwGetTime();
    GLFWwindow* mainWindow = instance().window;
    // For the integration tests only: a count of presented frames on standard error, so that
    // they can wait for a frame drawn after their input instead of sleeping.
    const bool reportFrames = std::getenv("KELTA_FRAME_REPORT") != nullptr;
    // For the integration tests only, which cannot drop files on a window: files taken as dropped
    // before the first frame, one path a line.
    if (const char* dropped = std::getenv("KELTA_DROP_FILES")) {
        std::istringstream lines(dropped);
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty()) instance().droppedFiles.push_back(line);
        }
    }
    unsigned long presentedFrames = 0;
    while (!glfwWindowShouldClose(mainWindow)) {
        Application& app = instance();
        if (!app.droppedFiles.empty()) {
            app.openDroppedFiles();
            // The time the opening took is no time the camera moves for.
            previousTime = glfwGetTime();
        }
        app.time = glfwGetTime();
        const float elapsedSeconds = static_cast<float>(app.time - previousTime);
        const CameraInput keys = app.camera->update(elapsedSeconds);
        app.orbitControl->advance(*app.camera, elapsedSeconds, keys.isSteering());
        // The flight wins the pose; the keys' other commands and the panel keep working.
        if (app.playback && !app.playback->advance(app, app.time)) endFlight(app);
        if (app.recorder) app.recorder->add(app.time, app.camera->position, app.camera->direction);
        const Camera& viewer = *app.camera;
        app.modelview = lookAt(viewer.position, viewer.position + viewer.direction, viewer.up);
        app.renderFrame();
        app.frameSeconds = app.time - previousTime;
        if (reportFrames) std::cerr << "frame " << ++presentedFrames << std::endl;
        glfwPollEvents();
        previousTime = app.time;
    }
    if (instance().recorder) instance().toggleRecording();
}

void Application::openDroppedFiles() {
    // Taken first: files dropped while these open (the window is polled meanwhile) wait for the next frame.
    std::vector<std::string> files;
    files.swap(droppedFiles);
    for (const std::string& file : files) openFile(*this, file, lastOpenMessage);
}

void Application::renderFrame() {
    composeFrame();
    glfwSwapBuffers(instance().window);
}

void Application::composeFrame() {
    Application& app = instance();
    if (app.observer) app.observer->frameStarted();
    Framebuffer& scene = *app.mainFramebuffer;
    Framebuffer& blurA = *app.blurFramebufferA;
    Framebuffer& blurB = *app.blurFramebufferB;

    scene.bind();
    glViewport(0, 0, scene.width, scene.height);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    if (app.atmosphere) {
        app.atmosphere->update(sunDirection(app.sun->position),
                               static_cast<float>(app.terrain->altitudeInMetres(app.camera->position)));
        // The sky after the ground, which hides most of it: only the pixels left are shaded.
        app.terrain->draw();
        app.atmosphere->drawSky(app.modelview, app.projection);
    } else {
        app.skydome->draw();
        app.terrain->draw();
    }
    if (app.trackLine) {
        app.trackLine->followHeights(*app.terrain);
        app.trackLine->draw(app.modelview, app.projection);
    }
    app.pathMeasuring->followHeights(*app.terrain);
    app.pathMeasuring->draw(app.modelview, app.projection);
    app.framePassEnded(FramePass::Scene);
    scene.unbind();
    app.framePassEnded(FramePass::Resolve);
    glDisable(GL_DEPTH_TEST);

    // Ping-pong blur of the bright pass: vertical into A, horizontal into B; wide taps first.
    GaussianBlurEffect& blur = *app.gaussianBlurEffect;
    for (int iteration = 0; iteration < BLUR_ITERATIONS; ++iteration) {
        blur.radius = blurRadius(iteration);
        blurA.bind();
        blur.tex = iteration == 0 ? scene.colorTextures[1] : blurB.colorTextures[0];
        blur.inputWindow = iteration == 0 ? app.blurGrid.sceneFromBlur : TextureWindow{};
        blur.isHorizontal = false;
        blur.draw();
        blurA.unbind();
        app.framePassEnded(FramePass::Blur);
        blurB.bind();
        blur.tex = blurA.colorTextures[0];
        blur.inputWindow = TextureWindow{};
        blur.isHorizontal = true;
        blur.draw();
        blurB.unbind();
        app.framePassEnded(FramePass::Blur);
    }

    // The scene target may be smaller than the window; it is stretched over all of it.
    glViewport(0, 0, app.outputWidth, app.outputHeight);
    glBindFramebuffer(GL_FRAMEBUFFER, app.outputFramebuffer);
    FinalProcessingEffect& final = *app.finalProcessingEffect;
    final.tex = scene.colorTextures[0];
    final.tex2 = blurB.colorTextures[0];
    final.tex3 = scene.colorTextures[1];
    final.bloomWindow = app.blurGrid.blurFromOutput;
    final.draw();
    app.framePassEnded(FramePass::Final);
    for (; app.screenshotsAsked > 0; --app.screenshotsAsked) takeScreenshot(app);
    if (app.isPanelShown) {
        // A still has no pointer: the tool that makes it says where the cursor stands.
        double cursorX = 0.0, cursorY = 0.0;
        int windowWidth = app.outputWidth, windowHeight = app.outputHeight;
        if (app.stillCursor) {
            cursorX = app.stillCursor->x;
            cursorY = app.stillCursor->y;
        } else {
            glfwGetCursorPos(app.window, &cursorX, &cursorY);
            glfwGetWindowSize(app.window, &windowWidth, &windowHeight);
        }
        ViewSettings settings = viewSettingsOf(app);
        const PanelRequests asked = app.panel->draw(gatherPanelFacts(app, cursorX, cursorY, windowWidth, windowHeight),
                                                    settings, *app.pathMeasuring, app.isMeasureModeOn);
        // What the panel changed shows from the next frame on.
        applyViewSettings(app, settings);
        if (asked.clearPath) app.pathMeasuring->clear();
        if (asked.saveView) saveView(app, *asked.saveView);
        if (asked.recallView) recallView(app, *asked.recallView);
        if (asked.removeView) removeView(app, *asked.removeView);
        if (asked.renameView) renameView(app, asked.renameView->first, asked.renameView->second);
        if (!asked.profileFile.empty()) {
            std::string error;
            const bool saved = app.pathMeasuring->saveProfile(asked.profileFile, error);
            app.panel->sayOfProfile(saved ? "Profile saved to " + asked.profileFile : error);
        }
    }
}

void Application::placeSun(bool isStartUp) {
    if (!terrainOptions.isSunPlaced()) return;
    std::optional<std::array<double, 2>> place = terrainOptions.location;
    if (!place) place = terrain->centreLatitudeLongitude();
    // A map without a place keeps the sun of the map before it.
    if (!place && sun && !isStartUp) {
        setSun(*sun);
        return;
    }
    // A map opened later keeps the time the keys and the panel moved to.
    const std::optional<ZonedTime> time = sun && sun->time ? sun->time : terrainOptions.sunTime;
    std::string error;
    const std::optional<SunSetting> placed = sunSettingOf(terrainOptions.sunPlacement, time, place, error);
    if (!placed) fatal(error);
    setSun(*placed);
}

void Application::moveSunTime(long long minutes) {
    if (sun && sun->time) setSun(movedBy(*sun, minutes));
}

void Application::setSun(const SunSetting& setting, SunReport report) {
    sun = setting;
    if (report == SunReport::Said) std::cout << sunLine(setting) << std::endl;
    lightTerrain();
}

void Application::lightTerrain() {
    if (!sun) return;
    // The atmosphere is made with the first sun and kept: only its sky-view table follows the sun.
    if (!atmosphere) atmosphere = std::make_unique<Atmosphere>(sunDirection(sun->position), 0.0f, pyramidCacheFolder());
    terrain->setSun(sun->position, terrainOptions.areShadowsWanted(), atmosphere.get());
}

void Application::toggleRecording() {
    const double now = glfwGetTime();
    if (!recorder) {
        recorder = std::make_unique<PathRecorder>(now);
        recorder->add(now, camera->position, camera->direction);
        std::cout << "Recording the flight" << std::endl;
        return;
    }
    recorder->add(now, camera->position, camera->direction);
    const CameraPath path = recorder->path();
    recorder.reset();
    const std::string fileName = recordingFileName(std::time(nullptr));
    std::string error;
    if (!replaceFile(fileName, cameraPathJson(path), error)) {
        std::cerr << programName() << ": could not save the flight: " << error << std::endl;
        return;
    }
    std::ostringstream line;
    const std::size_t count = path.keyframes().size();
    line << "Saved the flight to " << fileName << " (" << count << (count == 1 ? " pose, " : " poses, ") << std::fixed
         << std::setprecision(1) << path.durationSeconds() << " s)";
    std::cout << line.str() << std::endl;
}

void Application::showPanel(bool shown) {
    Application& app = instance();
    if (shown == app.isPanelShown) return;
    Camera& viewer = *app.camera;
    if (shown) {
        if (!app.panel) app.panel = std::make_unique<Panel>(app.window);
        app.wasMouseLookEnabled = viewer.isMouseLookEnabled;
        viewer.isMouseLookEnabled = false;
    } else {
        viewer.isMouseLookEnabled = app.wasMouseLookEnabled;
    }
    app.isPanelShown = shown;
    glfwSetInputMode(app.window, GLFW_CURSOR, viewer.isMouseLookEnabled ? GLFW_CURSOR_DISABLED : GLFW_CURSOR_NORMAL);
    if (viewer.isMouseLookEnabled) viewer.cursorCaptured();
}
