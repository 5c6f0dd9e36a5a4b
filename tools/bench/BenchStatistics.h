// kelta-bench's arithmetic: order statistics of frame timings, per-pass durations from one
// frame's GPU timestamps, and start-up phases from the marks the program sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/RenderObserver.h"

struct TimingSummary {
    size_t count = 0;
    double medianMs = 0;
    double p95Ms = 0;
    double p99Ms = 0;
};

// The median and the 95th and 99th percentiles, each interpolated linearly between the two nearest ranks.
TimingSummary summarize(const std::vector<double>& samplesMs);

// 1000 / the frame time; 0 when there is no positive frame time.
double framesPerSecond(double frameMs);

// One frame's GPU time split by pass; blur passes also one by one, in the order they ran.
struct FrameGpuTimes {
    double sceneMs = 0;
    double resolveMs = 0;
    double blurMs = 0;
    double finalMs = 0;
    double totalMs = 0;
    std::vector<double> blurPassMs;
};

// Turns the timestamps of one frame (nanoseconds: the frame's start, then one after each pass)
// into durations, each pass charged with the time since the stamp before it. `passes` names the
// pass that ended at each stamp after the first; returns false when the counts do not match.
bool frameGpuTimes(const std::vector<FramePass>& passes, const std::vector<uint64_t>& stampsNs,
                   FrameGpuTimes& times);

// Per-pass columns of many frames, ready to summarize.
struct GpuSeries {
    std::vector<double> scene, resolve, blur, final, total;
    std::vector<std::vector<double>> blurPasses;  // [pass][frame]
};
GpuSeries gpuSeries(const std::vector<FrameGpuTimes>& frames);

// Start-up as the program reports it: the time up to each mark is charged to the phase it
// ends, and a phase that ends more than once (the shader builds) sums its parts, keeping the
// place of its first appearance.
class StartupPhaseLog {
public:
    struct Phase {
        std::string name;
        double ms = 0;
    };

    explicit StartupPhaseLog(double startSeconds) : lastMarkSeconds(startSeconds) {}
    void mark(const std::string& name, double nowSeconds);
    // A phase timed by the caller, outside the chain of marks.
    void add(const std::string& name, double ms);
    const std::vector<Phase>& phases() const { return phaseList; }
    double totalMs() const;

private:
    double lastMarkSeconds;
    std::vector<Phase> phaseList;
};

// The sum of the phases' times.
double totalMs(const std::vector<StartupPhaseLog::Phase>& phases);
