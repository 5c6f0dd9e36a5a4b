// One frame of the real pipeline for a still image: the program's start-up in a hidden window,
// the pose and settings applied as the program's keys and main loop would, and the window's
// back buffer read back instead of presented.
#include "tools/shot/ShotRenderer.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "app/Application.h"
#include "app/Callbacks.h"
#include "app/SavedViewCommands.h"
#include "math/Camera.h"
#include "post/FinalProcessingEffect.h"
#include "post/Framebuffer.h"
#include "post/OutputPixels.h"
#include "scene/Terrain.h"
#include "scene/TerrainArguments.h"
#include "show/SavedViews.h"
#include "tools/common/ToolApplication.h"
#include "tools/common/ToolRun.h"
#include "tools/shot/PosterLayout.h"

namespace {

// How long a streamed map may take to load what one view wants, from a slow disk or a web server.
constexpr std::chrono::seconds SETTLING_LIMIT{120};

// The program's own three arguments, as kelta would receive them.
std::vector<std::string> terrainArguments(const ShotOptions& options) {
    std::vector<std::string> arguments{"kelta-shot"};
    const std::string map = options.heightMapPath.empty() ? TerrainArguments().heightMapPath : options.heightMapPath;
    if (!options.heightScale.empty()) {
        arguments.insert(arguments.end(), {map, options.horizontalScale.empty() ? "1" : options.horizontalScale,
                                           options.heightScale});
    } else if (!options.horizontalScale.empty()) {
        arguments.insert(arguments.end(), {map, options.horizontalScale});
    } else if (!options.heightMapPath.empty()) {
        arguments.push_back(map);
    }
    return arguments;
}

// Larger images than the GL can draw would come back cut or empty; a picture is drawn at once, or in
// tiles of width x height.
void requireDrawableSize(const ShotOptions& options, int width, int height) {
    GLint largestRenderbuffer = 0, largestViewport[2] = {0, 0};
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &largestRenderbuffer);
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, largestViewport);
    const int largest = std::min({largestRenderbuffer, largestViewport[0], largestViewport[1]});
    if (width <= largest && height <= largest) return;
    const std::string limit = "this GL's render targets (" + std::to_string(largest) + " a side)";
    if (drawsInTiles(options)) {
        fail("--tile-size " + std::to_string(options.tileSide) + " draws tiles of " + std::to_string(width) + "x" +
             std::to_string(height) + " with their margins, larger than " + limit);
    }
    const int fittingTile = (largest - 2 * posterMargin().across) / BLUR_DOWNSAMPLING * BLUR_DOWNSAMPLING;
    fail("--size " + std::to_string(width) + "x" + std::to_string(height) + " is larger than " + limit +
         (fittingTile >= 64 ? "; --tile-size " + std::to_string(fittingTile) + " draws it in tiles" : ""));
}

// An 8-bit RGBA target for when the window system did not give the hidden window the size asked for.
GLuint createOutputFramebuffer(int width, int height) {
    GLuint renderbuffer = 0, framebuffer = 0;
    glGenRenderbuffers(1, &renderbuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, renderbuffer);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, renderbuffer);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        fail("could not create a " + std::to_string(width) + "x" + std::to_string(height) +
              " output target");
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    return framebuffer;
}

// Puts the view saved for the map drawn in force, as kelta recalls it; the time of day places the
// sun at the map's place (or --location) when the command line placed none. Ends the process with
// one line when the map has no such view.
void applyWantedView(Application& app, const std::string& wanted) {
    const SavedViews views(savedViewsFolder(), app.terrain->file());
    const SavedView* found = views.find(wanted);
    if (!found) {
        if (!views.problem().empty()) fail("no view '" + wanted + "': " + views.problem());
        if (views.file().empty()) fail("no view '" + wanted + "': neither XDG_DATA_HOME nor HOME is set");
        fail("no view '" + wanted + "' in " + views.file());
    }
    const SavedView& view = *found;
    if (const std::optional<ZonedTime>& time = view.pose.settings.sunTime; time && !app.sun) {
        if (!app.terrainOptions.location && !app.terrain->centreLatitudeLongitude()) {
            fail("the time of day of view '" + wanted + "' needs --location LAT,LON for a map that has no place "
                 "on the Earth");
        }
        app.terrainOptions.sunTime = time;
        app.placeSun(false);
    }
    applySavedView(app, view);
}

}  // namespace

std::unique_ptr<Application> startShot(const ShotOptions& options, int width, int height) {
    std::unique_ptr<Application> application = registerToolApplication(terrainArguments(options));
    Application& app = *application;
    app.windowSettings.width = width;
    app.windowSettings.height = height;
    app.windowSettings.isVisible = false;
    app.windowSettings.swapInterval = 0;
    app.terrainOptions = options.terrain;
    app.startUp();

    // The final pass draws into the hidden window's back buffer, which has the pixel format of
    // the program's window and so rounds every colour the same. A window system may give the
    // window another size; then an off-screen target of the size asked for takes its place.
    requireDrawableSize(options, width, height);
    int framebufferWidth = 0, framebufferHeight = 0;
    glfwGetFramebufferSize(app.window, &framebufferWidth, &framebufferHeight);
    if (framebufferWidth != width || framebufferHeight != height) {
        app.outputFramebuffer = createOutputFramebuffer(width, height);
        framebufferSizeCallback(app.window, width, height);
    }

    // Modes and settings as the program's keys set them.
    app.terrainMode = options.mode;
    if (options.mode != 5) app.terrain->shader = app.terrainShaders[options.mode - 1].get();
    app.finalProcessingEffect->debugMode = options.view;
    app.finalProcessingEffect->bloomGain = options.bloomGain;
    app.terrain->bloomThreshold = options.bloomThreshold;

    // The pose and the view matrix as one main-loop iteration builds them.
    Camera& camera = *app.camera;
    if (options.hasPosition) camera.position = options.position;
    if (options.hasDirection) camera.direction = options.direction;
    if (!options.savedView.empty()) applyWantedView(app, options.savedView);
    app.time = options.time;
    app.modelview = lookAt(camera.position, camera.position + camera.direction, camera.up);
    return application;
}

void composeShotPart(Application& app, const ShotOptions& options, const PixelRect& part) {
    app.projection = partProjection(windowProjection(options.width, options.height), options.width, options.height,
                                    part.x, part.y, part.width, part.height);
    app.blurGrid = blurGridOf(options.width, options.height, part.x, part.y, part.width, part.height);
    // Parts of a side that is no multiple of the blur's texels may take one texel more or less.
    for (Framebuffer* blurTarget : {app.blurFramebufferA.get(), app.blurFramebufferB.get()}) {
        if (blurTarget->width != app.blurGrid.width || blurTarget->height != app.blurGrid.height) {
            blurTarget->resize(app.blurGrid.width, app.blurGrid.height);
        }
    }
    // A streamed map loads the tiles a view wants in the background and fades them in: the picture
    // is the one it settles on, drawn once.
    const auto deadline = std::chrono::steady_clock::now() + SETTLING_LIMIT;
    do {
        // The scene pass draws into the whole scene target.
        if (!app.terrain->settleWithoutDrawing(app.mainFramebuffer->height, deadline)) {
            fail("the streamed map's tiles for this view were still loading after " +
                 std::to_string(SETTLING_LIMIT.count()) + " s");
        }
        app.composeFrame();
    } while (!app.terrain->isSettled());
}

ShotSession::ShotSession(const ShotOptions& options)
    : options(options), app(startShot(options, options.width, options.height)) {}

ShotSession::~ShotSession() { app->shutDown(); }

RgbImage8 ShotSession::renderFrame() {
    // The view matrix as one main-loop iteration builds it from the camera, which a flight moves
    // between frames.
    const Camera& camera = *app->camera;
    app->modelview = lookAt(camera.position, camera.position + camera.direction, camera.up);
    composeShotPart(*app, options, PixelRect{0, 0, options.width, options.height});
    if (options.panel && !app->isPanelShown) {
        app->stillCursor = options.cursor.value_or(vec2{0.5f * options.width, 0.5f * options.height});
        app->showPanel(true);
        // The panel sizes itself to its contents in the first frame it lays out, and shows from the
        // second; the settled scene is drawn once more under it.
        app->composeFrame();
        app->composeFrame();
    }
    return readOutputPixels(app->outputFramebuffer, options.width, options.height);
}

RgbImage8 renderShot(const ShotOptions& options) { return ShotSession(options).renderFrame(); }
