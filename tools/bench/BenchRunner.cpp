// The benchmark's side of the program's seam: start-up phases timed from the observer's marks,
// GPU pass times from timestamp queries issued as each pass ends, and frames driven exactly as
// the main loop drives them, along a fixed path and clock.
#include "tools/bench/BenchRunner.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include <chrono>
#include <deque>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "app/Application.h"
#include "app/Fatal.h"
#include "io/DataPath.h"
#include "math/Camera.h"
#include "post/Framebuffer.h"
#include "scene/Terrain.h"
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

// The clock, camera and view matrix of frame `index` of the path, set as the main loop sets them.
void poseForFrame(Application& app, const CameraPose& start, int index) {
    app.time = index * BENCH_FRAME_SECONDS;
    const CameraPose pose = cameraPathPose(start, app.time);
    Camera& camera = *app.camera;
    camera.position = pose.position;
    camera.direction = pose.direction;
    app.modelview = lookAt(camera.position, camera.position + camera.direction, camera.up);
}

// One main-loop iteration, with the path in place of the camera's own update.
void drawPathFrame(Application& app, const CameraPose& start, int index) {
    poseForFrame(app, start, index);
    app.renderFrame();
    glfwPollEvents();
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
    Application& app = registerToolApplication({"kelta-bench", map});
    setFatalReporter(reportFatalToParent);
    app.glfwErrorCallback = reportGlfwErrorToParent;
    app.terrainOptions = options.terrain;
    app.terrainOptions.levelOfDetail = benchMap.levelOfDetail;
    app.windowSettings.width = options.sizes.front().width;
    app.windowSettings.height = options.sizes.front().height;
    app.windowSettings.swapInterval = 0;

    MapRun run;
    run.map = displayName(map);
    run.levelOfDetailAsked = benchMap.levelOfDetail;
    run.path = resolveTypedPath(map);
    std::cerr << "kelta-bench: " << run.map << ": start-up" << std::endl;

    StartupPhaseLog startup(nowSeconds());
    BenchObserver observer;
    observer.startup = &startup;
    app.observer = &observer;
    app.startUp();
    observer.startup = nullptr;

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
    // The program's own line went to the captured output with the rest of its log.
    if (!run.fallbackReason.empty()) std::cerr << "kelta-bench: " << run.map << ": " << run.fallbackReason << std::endl;

    const CameraPose start{app.camera->position, app.camera->direction};
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
        for (; index < options.warmup; ++index) drawPathFrame(app, start, index);
        glFinish();
        timer.setRecording(true);
        for (int frame = 0; frame < options.frames; ++frame, ++index) {
            const double frameStart = nowSeconds();
            drawPathFrame(app, start, index);
            sizeRun.cpuFrameMs.push_back((nowSeconds() - frameStart) * 1000.0);
            sizeRun.triangles.push_back(static_cast<double>(app.terrain->trianglesPerFrame()));
            if (observer.timer) timer.collectFinished();
        }
        timer.setRecording(false);
        sizeRun.blurPassCount = observer.blurPassesInFrame;
        if (observer.timer) {
            timer.collectAll();
            sizeRun.gpuFrames = timer.takeFrames();
        }
        run.sizes.push_back(sizeRun);
    }
    run.peakResidentBytes = statusBytes("VmHWM:");
    glfwTerminate();
    return jsonText(Json{{"device", deviceJson(device)}, {"map", mapRunJson(run)}});
}
