// Order statistics, per-pass GPU durations and start-up phase sums for kelta-bench.
#include "tools/bench/BenchStatistics.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

double percentileOfSorted(const std::vector<double>& samples, double fraction) {
    const double rank = fraction * static_cast<double>(samples.size() - 1);
    const size_t below = static_cast<size_t>(std::floor(rank));
    const size_t above = std::min(below + 1, samples.size() - 1);
    return samples[below] + (rank - static_cast<double>(below)) * (samples[above] - samples[below]);
}

}  // namespace

TimingSummary summarize(const std::vector<double>& samplesMs) {
    TimingSummary summary;
    summary.count = samplesMs.size();
    if (samplesMs.empty()) return summary;
    std::vector<double> sorted = samplesMs;
    std::sort(sorted.begin(), sorted.end());
    summary.medianMs = percentileOfSorted(sorted, 0.5);
    summary.p95Ms = percentileOfSorted(sorted, 0.95);
    summary.p99Ms = percentileOfSorted(sorted, 0.99);
    return summary;
}

double framesPerSecond(double frameMs) { return frameMs > 0 ? 1000.0 / frameMs : 0.0; }

bool frameGpuTimes(const std::vector<FramePass>& passes, const std::vector<uint64_t>& stampsNs,
                   FrameGpuTimes& times) {
    if (stampsNs.size() != passes.size() + 1) return false;
    // Differences are taken in signed 64 bits first: a double cannot hold a nanosecond clock exactly.
    auto millisecondsBetween = [](uint64_t from, uint64_t to) {
        return static_cast<double>(static_cast<int64_t>(to - from)) * 1.0e-6;
    };
    times = FrameGpuTimes();
    for (size_t i = 0; i < passes.size(); ++i) {
        const double ms = millisecondsBetween(stampsNs[i], stampsNs[i + 1]);
        switch (passes[i]) {
            case FramePass::Scene: times.sceneMs += ms; break;
            case FramePass::Resolve: times.resolveMs += ms; break;
            case FramePass::Blur:
                times.blurMs += ms;
                times.blurPassMs.push_back(ms);
                break;
            case FramePass::Final: times.finalMs += ms; break;
        }
    }
    times.totalMs = millisecondsBetween(stampsNs.front(), stampsNs.back());
    return true;
}

GpuSeries gpuSeries(const std::vector<FrameGpuTimes>& frames) {
    GpuSeries series;
    for (const FrameGpuTimes& frame : frames) {
        series.scene.push_back(frame.sceneMs);
        series.resolve.push_back(frame.resolveMs);
        series.blur.push_back(frame.blurMs);
        series.final.push_back(frame.finalMs);
        series.total.push_back(frame.totalMs);
        if (series.blurPasses.size() < frame.blurPassMs.size()) series.blurPasses.resize(frame.blurPassMs.size());
        for (size_t pass = 0; pass < frame.blurPassMs.size(); ++pass) {
            series.blurPasses[pass].push_back(frame.blurPassMs[pass]);
        }
    }
    return series;
}

void StartupPhaseLog::mark(const std::string& name, double nowSeconds) {
    add(name, (nowSeconds - lastMarkSeconds) * 1000.0);
    lastMarkSeconds = nowSeconds;
}

void StartupPhaseLog::add(const std::string& name, double ms) {
    for (Phase& phase : phaseList) {
        if (phase.name == name) {
            phase.ms += ms;
            return;
        }
    }
    phaseList.push_back({name, ms});
}

double StartupPhaseLog::totalMs() const { return ::totalMs(phaseList); }

double totalMs(const std::vector<StartupPhaseLog::Phase>& phases) {
    double total = 0;
    for (const StartupPhaseLog::Phase& phase : phases) total += phase.ms;
    return total;
}
