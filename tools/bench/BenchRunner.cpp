// The benchmark's side of the program's seam: start-up phases timed from the observer's marks,
// GPU pass times from timestamp queries issued as each pass ends, and frames driven exactly as
// the main loop drives them, along a fixed path and clock.
#include "tools/bench/BenchRunner.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <deque>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "app/Application.h"
#include "io/Fatal.h"
#include "io/DataPath.h"
#include "math/Camera.h"
#include "post/Framebuffer.h"
#include "scene/Terrain.h"
#include "scene/TerrainStream.h"
#include "scene/TerrainLod.h"
#include "tools/bench/BenchReport.h"
#include "tools/bench/CameraPath.h"
#include "tools/common/ToolApplication.h"

namespace {

double nowSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string glString(GLenum name) {
    const GLubyte* text = glGetString(name);
    return text ? reinterpret_cast<const char*>(text) : "";
}

// Timestamps of a frame's start and of the end of each pass, in a ring of query sets so that
// a frame's stamps are read a few frames later, when the GPU has long passed them, instead of
// stalling the frame that issued them.
class GpuFrameTimer {
public:
    static constexpr int RING_FRAMES = 4;
    static constexpr int MAX_STAMPS = 64;

    void create() { glGenQueries(RING_FRAMES * MAX_STAMPS, queries); }

    void setRecording(bool on) { recording = on; }

    void frameStarted() {
        if (!recording) return;
        current = nextSlot;
        nextSlot = (nextSlot + 1) % RING_FRAMES;
        // The slot's previous frame is always older than every other pending one.
        if (!pending.empty() && pending.front() == current) readOldest();
        slots[current].passes.clear();
        stamp();
        pending.push_back(current);
    }

    void passEnded(FramePass pass) {
        if (!recording) return;
        if (slots[current].passes.size() + 1 >= MAX_STAMPS) {
            std::cerr << "kelta-bench: a frame has more than " << MAX_STAMPS - 1 << " passes; the rest go untimed\n";
            return;
        }
        slots[current].passes.push_back(pass);
        stamp();
    }

    // Reads every frame whose last stamp has arrived, oldest first, without waiting.
    void collectFinished() {
        while (!pending.empty()) {
            GLuint available = GL_FALSE;
            glGetQueryObjectuiv(lastQuery(pending.front()), GL_QUERY_RESULT_AVAILABLE, &available);
            if (available != GL_TRUE) return;
            readOldest();
        }
    }

    // Waits for and reads every frame still pending.
    void collectAll() {
        while (!pending.empty()) readOldest();
    }

    // Takes the frames read so far, in the order they were drawn.
    std::vector<FrameGpuTimes> takeFrames() { return std::move(frames); }

private:
    struct Slot {
        std::vector<FramePass> passes;
    };

    GLuint query(int slot, size_t stamp) const { return queries[slot * MAX_STAMPS + static_cast<int>(stamp)]; }
    GLuint lastQuery(int slot) const { return query(slot, slots[slot].passes.size()); }

    void stamp() { glQueryCounter(query(current, slots[current].passes.size()), GL_TIMESTAMP); }

    void readOldest() {
        const int slot = pending.front();
        pending.pop_front();
        std::vector<uint64_t> stamps(slots[slot].passes.size() + 1);
        for (size_t i = 0; i < stamps.size(); ++i) {
            GLuint64 value = 0;
            glGetQueryObjectui64v(query(slot, i), GL_QUERY_RESULT, &value);
            stamps[i] = value;
        }
        FrameGpuTimes times;
        if (frameGpuTimes(slots[slot].passes, stamps, times)) frames.push_back(times);
    }

    GLuint queries[RING_FRAMES * MAX_STAMPS] = {};
    Slot slots[RING_FRAMES];
    std::deque<int> pending;
    int current = 0;
    int nextSlot = 0;
    bool recording = false;
    std::vector<FrameGpuTimes> frames;
};

class BenchObserver : public RenderObserver {
public:
    StartupPhaseLog* startup = nullptr;
    GpuFrameTimer* timer = nullptr;
    int blurPassesInFrame = 0;

    void startupPhaseEnded(const char* phase) override {
        if (startup) startup->mark(phase, nowSeconds());
    }
    void frameStarted() override {
        blurPassesInFrame = 0;
        if (timer) timer->frameStarted();
    }
    void framePassEnded(FramePass pass) override {
        if (pass == FramePass::Blur) ++blurPassesInFrame;
        if (timer) timer->passEnded(pass);
    }
};

void setPose(Application& app, const CameraPose& pose) {
    Camera& camera = *app.camera;
    camera.position = pose.position;
    camera.direction = pose.direction;
    app.modelview = lookAt(camera.position, camera.position + camera.direction, camera.up);
}

// The clock, camera and view matrix of frame `index` of the path, set as the main loop sets them.
void poseForFrame(Application& app, const CameraPose& start, int index) {
    app.time = index * BENCH_FRAME_SECONDS;
    setPose(app, cameraPathPose(start, app.time));
}

// One main-loop iteration at `pose` with the clock at `seconds`, in place of the camera's own update.
// The flight runs on the real clock, as the main loop does, so that the ground passes as fast as
// under a person's hand however slow the frames are, and fades in as fast as it would.
void drawFrameAt(Application& app, const CameraPose& pose, double seconds) {
    app.time = seconds;
    setPose(app, pose);
    app.renderFrame();
    glfwPollEvents();
}

// Frame `index` of the path, on the path's fixed clock.
void drawPathFrame(Application& app, const CameraPose& start, int index) {
    const double seconds = index * BENCH_FRAME_SECONDS;
    drawFrameAt(app, cameraPathPose(start, seconds), seconds);
}

// Longest wait for a streamed map's tiles at one pose: far beyond a healthy load, short enough that
// a stuck loader still leaves a report.
constexpr double SETTLE_LIMIT_SECONDS = 120.0;

// Draws at `pose`, the clock running from `clockStart`, until a frame shows every tile it wants or
// the limit has passed; returns whether it did.
bool settleAt(Application& app, const CameraPose& pose, double clockStart, double& waitedMs) {
    const double start = nowSeconds();
    do {
        drawFrameAt(app, pose, nowSeconds() - clockStart);
        waitedMs = (nowSeconds() - start) * 1000.0;
    } while (!app.terrain->isSettled() && waitedMs < SETTLE_LIMIT_SECONDS * 1000.0);
    return app.terrain->isSettled();
}

CameraPose flownPose(const CameraPose& flightStart, double flownSeconds) {
    return flightPose(flightStart, static_cast<float>(FLIGHT_UNITS_PER_SECOND * flownSeconds));
}

BenchSize drawnSize(const Application& app) { return {app.mainFramebuffer->width, app.mainFramebuffer->height}; }

// Resizes the real window and lets the program's own framebuffer-size callback follow, as it
// does when a person resizes the window.
void resizeWindow(Application& app, const BenchSize& size) {
    glfwSetWindowSize(app.window, size.width, size.height);
    const double deadline = nowSeconds() + 10.0;
    for (;;) {
        glfwPollEvents();
        int windowWidth = 0, windowHeight = 0, framebufferWidth = 0, framebufferHeight = 0;
        glfwGetWindowSize(app.window, &windowWidth, &windowHeight);
        glfwGetFramebufferSize(app.window, &framebufferWidth, &framebufferHeight);
        const BenchSize drawn = drawnSize(app);
        const bool settled = windowWidth == size.width && windowHeight == size.height &&
                             drawn.width == framebufferWidth && drawn.height == framebufferHeight;
        if (settled) return;
        if (nowSeconds() > deadline) {
            std::cerr << "kelta-bench: the window system kept the window at " << windowWidth << " x " << windowHeight
                      << " instead of " << size.width << " x " << size.height << "; timing what it gave\n";
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// A memory figure ("VmRSS:", "VmHWM:") from the kernel's status file of the process; 0 where
// there is none.
uint64_t statusBytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) return std::stoull(line.substr(field.size())) * 1024;
    }
    return 0;
}

// The parent reports a run that ended with exit code 1 by the last line of its standard output,
// so the program's fatal line and what it names go there, whole, and nowhere else.
void reportFatalToParent(const std::string& line, const std::string& detail) {
    std::cout << (detail.empty() ? line : line + ": " + detail) << std::endl;
}

// GLFW's errors end the run when start-up cannot go on, so they take the same way as fatal lines.
void reportGlfwErrorToParent(int, const char* description) {
    std::cout << "GLFW Error: " << description << std::endl;
}

std::string displayName(std::string map) {
    for (char& c : map) {
        if (c == '\\') c = '/';
    }
    return map;
}

}  // namespace

std::string runMapBenchmark(const BenchOptions& options, const BenchMap& benchMap) {
    const std::string& map = benchMap.path;
    const std::unique_ptr<Application> application = registerToolApplication({"kelta-bench", map});
    Application& app = *application;
    setFatalReporter(reportFatalToParent);
    app.glfwErrorCallback = reportGlfwErrorToParent;
    app.terrainOptions = options.terrain;
    app.terrainOptions.levelOfDetail = benchMap.levelOfDetail;
    app.terrainOptions.stream = benchMap.stream;
    app.windowSettings.width = options.sizes.front().width;
    app.windowSettings.height = options.sizes.front().height;
    app.windowSettings.swapInterval = 0;

    MapRun run;
    run.map = displayName(map);
    run.levelOfDetailAsked = benchMap.levelOfDetail;
    run.path = resolveTypedPath(map);
    run.streamAsked = benchMap.stream;
    run.flight = options.flight;
    std::cerr << "kelta-bench: " << run.map << ": start-up" << std::endl;

    StartupPhaseLog startup(nowSeconds());
    BenchObserver observer;
    observer.startup = &startup;
    app.observer = &observer;
    app.startUp();
    observer.startup = nullptr;
    if (options.panel) app.showPanel(true);

    BenchDevice device;
    device.vendor = glString(GL_VENDOR);
    device.renderer = glString(GL_RENDERER);
    device.version = glString(GL_VERSION);
    if (glQueryCounter && glGetQueryObjectui64v) {
        GLint bits = 0;
        glGetQueryiv(GL_TIMESTAMP, GL_QUERY_COUNTER_BITS, &bits);
        device.timestampBits = bits;
    }
    GpuFrameTimer timer;
    if (device.timestampBits > 0) {
        timer.create();
        observer.timer = &timer;
    }
    const Terrain& terrain = *app.terrain;
    run.gridWidth = terrain.gridWidth;
    run.gridHeight = terrain.gridHeight;
    run.levelOfDetail = terrain.lod != nullptr;
    if (terrain.lod) run.lodErrorPixels = terrain.lod->errorPixels;
    run.fallbackReason = terrain.fallbackReason;
    run.streamed = terrain.stream != nullptr;
    run.pyramidBuilt = run.streamed && terrain.stream->map().pyramidBuilt;
    // The program's own line went to the captured output with the rest of its log.
    if (!run.fallbackReason.empty()) std::cerr << "kelta-bench: " << run.map << ": " << run.fallbackReason << std::endl;

    const CameraPose start{app.camera->position, app.camera->direction};
    // The flight begins a quarter of the way in along the start heading, where the map fills the
    // view: from the corner the view fills as the camera flies in, and the frames grow dearer for
    // that alone, which would be charged to streaming.
    const float shorterSide = std::min(static_cast<float>(terrain.gridWidth - 1) * terrain.geometry.columnSpacing,
                                       static_cast<float>(terrain.gridHeight - 1) * terrain.geometry.rowSpacing);
    const CameraPose flightStart = flightPose(start, 0.25f * shorterSide * std::sqrt(2.0f));
    poseForFrame(app, start, 0);
    const double firstFrameStart = nowSeconds();
    app.renderFrame();
    glFinish();
    startup.add("first frame", (nowSeconds() - firstFrameStart) * 1000.0);
    glfwPollEvents();
    run.startup = startup.phases();
    run.residentBytesAfterStartup = statusBytes("VmRSS:");

    for (size_t sizeIndex = 0; sizeIndex < options.sizes.size(); ++sizeIndex) {
        const BenchSize& size = options.sizes[sizeIndex];
        if (sizeIndex > 0) resizeWindow(app, size);
        SizeRun sizeRun;
        sizeRun.requested = size;
        sizeRun.framebuffer = drawnSize(app);
        std::cerr << "kelta-bench: " << run.map << " at " << sizeRun.framebuffer.width << " x "
                  << sizeRun.framebuffer.height << ": " << options.warmup << " warm-up and " << options.frames
                  << " measured frames" << std::endl;

        int index = 0;
        const double clockStart = nowSeconds();
        if (options.flight) {
            sizeRun.settled = settleAt(app, flightStart, clockStart, sizeRun.settleMs);
            if (!sizeRun.settled) {
                std::cerr << "kelta-bench: " << run.map << ": the tiles where the flight starts had not all "
                          << "arrived after " << SETTLE_LIMIT_SECONDS << " s; timing the static frames as they are"
                          << std::endl;
            }
            for (int frame = 0; frame < options.warmup; ++frame) {
                drawFrameAt(app, flightStart, nowSeconds() - clockStart);
            }
            glFinish();
            const StreamCounters before = app.terrain->streamCounters();
            for (int frame = 0; frame < options.frames; ++frame) {
                const double frameStart = nowSeconds();
                drawFrameAt(app, flightStart, frameStart - clockStart);
                sizeRun.staticCpuFrameMs.push_back((nowSeconds() - frameStart) * 1000.0);
            }
            sizeRun.staticStream = countedBetween(before, app.terrain->streamCounters());
        } else {
            for (; index < options.warmup; ++index) drawPathFrame(app, start, index);
        }
        glFinish();
        const StreamCounters before = app.terrain->streamCounters();
        const double flightStartSeconds = nowSeconds();
        std::vector<double> flownSeconds;
        timer.setRecording(true);
        for (int frame = 0; frame < options.frames; ++frame, ++index) {
            const double frameStart = nowSeconds();
            if (options.flight) {
                flownSeconds.push_back(frameStart - flightStartSeconds);
                drawFrameAt(app, flownPose(flightStart, flownSeconds.back()), frameStart - clockStart);
            } else {
                drawPathFrame(app, start, index);
            }
            sizeRun.cpuFrameMs.push_back((nowSeconds() - frameStart) * 1000.0);
            sizeRun.triangles.push_back(static_cast<double>(app.terrain->trianglesPerFrame()));
            if (observer.timer) timer.collectFinished();
        }
        timer.setRecording(false);
        sizeRun.stream = countedBetween(before, app.terrain->streamCounters());
        sizeRun.blurPassCount = observer.blurPassesInFrame;
        if (observer.timer) {
            timer.collectAll();
            sizeRun.gpuFrames = timer.takeFrames();
        }
        // The flight's poses again, each held until its tiles have all arrived: what the same
        // frames cost without anything missing or fading, so that the ground's own cost is not
        // charged to streaming.
        for (double flown : flownSeconds) {
            const CameraPose pose = flownPose(flightStart, flown);
            double waitedMs = 0;
            if (!settleAt(app, pose, clockStart, waitedMs)) ++sizeRun.unsettledFlightPoses;
            const double frameStart = nowSeconds();
            drawFrameAt(app, pose, frameStart - clockStart);
            sizeRun.settledFlightCpuFrameMs.push_back((nowSeconds() - frameStart) * 1000.0);
        }
        run.sizes.push_back(sizeRun);
    }
    run.peakResidentBytes = statusBytes("VmHWM:");
    run.streamTotals = app.terrain->streamCounters();
    app.shutDown();
    return jsonText(Json{{"device", deviceJson(device)}, {"map", mapRunJson(run)}});
}
