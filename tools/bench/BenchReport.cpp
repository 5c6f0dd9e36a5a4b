// JSON and text forms of kelta-bench's results.
#include "tools/bench/BenchReport.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "tools/bench/CameraPath.h"

namespace {

// Tenths of a microsecond are far below the noise of any frame time and keep the JSON readable.
double rounded(double ms) { return std::round(ms * 1.0e4) / 1.0e4; }

// The float's shortest decimal form, so that a budget typed as 0.3 reads back as 0.3 and not as
// 0.30000001192092896, however small it is.
double asTyped(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return std::strtod(text, nullptr);
}

Json samplesJson(const std::vector<double>& samples) {
    Json list = Json::array();
    for (double ms : samples) list.push_back(rounded(ms));
    return list;
}

Json summaryJson(const TimingSummary& summary) {
    if (summary.count == 0) return nullptr;
    return Json{
        {"median", rounded(summary.medianMs)}, {"p95", rounded(summary.p95Ms)}, {"p99", rounded(summary.p99Ms)}};
}

Json summaryJson(const std::vector<double>& samples) { return summaryJson(summarize(samples)); }

Json sizeJson(const BenchSize& size) { return Json{{"width", size.width}, {"height", size.height}}; }

Json streamJson(const StreamCounters& counters) {
    return Json{{"tiles_loaded", counters.tilesLoaded},
                {"bytes_read", counters.bytesRead},
                {"frames_missing_tiles", counters.framesMissingTiles}};
}

Json sizeRunJson(const SizeRun& run, const MapRun& map) {
    const GpuSeries gpu = gpuSeries(run.gpuFrames);
    const bool hasGpu = !run.gpuFrames.empty();
    Json result;
    result["requested"] = sizeJson(run.requested);
    result["framebuffer"] = sizeJson(run.framebuffer);
    result["frames"] = run.cpuFrameMs.size();
    result["blur_passes"] = run.blurPassCount;
    const TimingSummary cpuFrame = summarize(run.cpuFrameMs);
    result["fps"] = rounded(framesPerSecond(cpuFrame.medianMs));
    result["cpu_frame_ms"] = summaryJson(cpuFrame);
    result["triangles_per_frame"] = static_cast<uint64_t>(summarize(run.triangles).medianMs);
    if (hasGpu) {
        result["gpu_ms"] = Json{{"scene", summaryJson(gpu.scene)},   {"resolve", summaryJson(gpu.resolve)},
                                {"blur", summaryJson(gpu.blur)},     {"final", summaryJson(gpu.final)},
                                {"total", summaryJson(gpu.total)}};
        Json perPass = Json::array();
        for (const std::vector<double>& pass : gpu.blurPasses) perPass.push_back(summaryJson(pass));
        result["gpu_blur_passes_ms"] = perPass;
    } else {
        result["gpu_ms"] = nullptr;
        result["gpu_blur_passes_ms"] = nullptr;
    }
    Json samples;
    samples["cpu_frame"] = samplesJson(run.cpuFrameMs);
    if (hasGpu) {
        samples["gpu_scene"] = samplesJson(gpu.scene);
        samples["gpu_resolve"] = samplesJson(gpu.resolve);
        samples["gpu_blur"] = samplesJson(gpu.blur);
        samples["gpu_final"] = samplesJson(gpu.final);
        samples["gpu_total"] = samplesJson(gpu.total);
    }
    result["samples_ms"] = samples;
    result["stream"] = map.streamed ? streamJson(run.stream) : Json(nullptr);
    if (map.flight) {
        const TimingSummary still = summarize(run.staticCpuFrameMs);
        result["static"] = Json{{"settled", run.settled},
                                {"settle_ms", rounded(run.settleMs)},
                                {"cpu_frame_ms", summaryJson(still)},
                                {"stream", map.streamed ? streamJson(run.staticStream) : Json(nullptr)},
                                {"samples_ms", samplesJson(run.staticCpuFrameMs)}};
        result["flight_to_static_p99"] = still.p99Ms > 0 ? Json(cpuFrame.p99Ms / still.p99Ms) : Json(nullptr);
        const TimingSummary replayed = summarize(run.settledFlightCpuFrameMs);
        result["settled_flight"] = Json{{"unsettled_poses", run.unsettledFlightPoses},
                                        {"cpu_frame_ms", summaryJson(replayed)},
                                        {"samples_ms", samplesJson(run.settledFlightCpuFrameMs)}};
        result["flight_to_settled_p99"] =
            replayed.p99Ms > 0 ? Json(cpuFrame.p99Ms / replayed.p99Ms) : Json(nullptr);
    }
    return result;
}

std::string milliseconds(const Json& value) {
    if (!value.is_number()) return "n/a";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value.get<double>());
    return text;
}

std::string count(const Json& value) { return std::to_string(value.get<uint64_t>()); }

std::string megabytes(const Json& bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes.get<uint64_t>()) / 1048576.0);
    return text;
}

// "one mesh", or level of detail with its budget, and whether the program fell back to it.
std::string drawingText(const Json& map) {
    if (map["streamed"].get<bool>()) {
        const bool asked = map["stream_asked"].get<bool>();
        const bool built = map["pyramid_built"].get<bool>();
        return std::string("streamed") + (asked ? "" : " (too large for one texture)") +
               (built ? ", pyramid built during start-up" : "");
    }
    if (!map["level_of_detail"].get<bool>()) return "one mesh";
    char budget[48];
    std::snprintf(budget, sizeof budget, ", error budget %g px", map["lod_error_pixels"].get<double>());
    const bool asked = map["level_of_detail_asked"].get<bool>();
    return std::string("level of detail") + (asked ? "" : " (fell back from one mesh)") + budget;
}

std::string sizeText(const Json& size) {
    return std::to_string(size["width"].get<int>()) + " x " + std::to_string(size["height"].get<int>());
}

// One row: a label in a column of 20, then right-aligned columns of 12.
std::string row(const std::string& label, const std::vector<std::string>& cells) {
    char text[64];
    std::snprintf(text, sizeof text, "  %-20s", label.c_str());
    std::string line = text;
    for (const std::string& cell : cells) {
        std::snprintf(text, sizeof text, "%12s", cell.c_str());
        line += text;
    }
    return line + "\n";
}

// A streamed map's counters, as rows; nothing for the other surfaces.
void writeStream(std::ostream& out, const Json& counters) {
    if (counters.is_null()) return;
    out << row("tiles loaded", {count(counters["tiles_loaded"])});
    out << row("read", {megabytes(counters["bytes_read"])});
    out << row("frames missing tiles", {count(counters["frames_missing_tiles"])});
}

void writeSize(std::ostream& out, const Json& size) {
    std::string heading = sizeText(size["requested"]);
    if (size["framebuffer"] != size["requested"]) heading += " (framebuffer " + sizeText(size["framebuffer"]) + ")";
    out << row(heading, {"median ms", "p95 ms", "fps"});
    const Json& gpu = size["gpu_ms"];
    auto gpuRow = [&](const std::string& label, const char* key) {
        const Json none;
        const Json& summary = gpu.is_object() ? gpu[key] : none;
        out << row(label, {milliseconds(summary.is_object() ? summary["median"] : none),
                           milliseconds(summary.is_object() ? summary["p95"] : none)});
    };
    gpuRow("scene", "scene");
    gpuRow("resolve", "resolve");
    gpuRow("blur (" + std::to_string(size["blur_passes"].get<int>()) + " passes)", "blur");
    gpuRow("final", "final");
    gpuRow("GPU total", "total");
    char fps[32];
    std::snprintf(fps, sizeof fps, "%.1f", size["fps"].get<double>());
    const Json& cpu = size["cpu_frame_ms"];
    out << row("CPU frame", {milliseconds(cpu["median"]), milliseconds(cpu["p95"]), fps});
    out << row("triangles per frame", {count(size["triangles_per_frame"])});
    writeStream(out, size["stream"]);
    if (!size.contains("static")) return;
    const Json& still = size["static"];
    out << row(still["settled"].get<bool>() ? "tiles settled after" : "gave up settling after",
               {milliseconds(still["settle_ms"])});
    out << row("static at start", {milliseconds(still["cpu_frame_ms"]["median"]),
                                   milliseconds(still["cpu_frame_ms"]["p95"])});
    writeStream(out, still["stream"]);
    out << row("flight poses settled", {milliseconds(size["settled_flight"]["cpu_frame_ms"]["median"]),
                                          milliseconds(size["settled_flight"]["cpu_frame_ms"]["p95"])});
    const Json& replayed = size["settled_flight"];
    out << row("CPU frame p99", {"settled", "flight", "ratio"});
    auto ratioRow = [&](const std::string& label, const Json& settled, const Json& ratio) {
        char text[32];
        std::snprintf(text, sizeof text, "%.2f", ratio.is_number() ? ratio.get<double>() : 0.0);
        out << row(label, {milliseconds(settled["cpu_frame_ms"]["p99"]), milliseconds(cpu["p99"]), text});
    };
    ratioRow("static at start", still, size["flight_to_static_p99"]);
    ratioRow("the flight's poses", replayed, size["flight_to_settled_p99"]);
}

}  // namespace

StreamCounters countedBetween(const StreamCounters& before, const StreamCounters& after) {
    return {after.framesMissingTiles - before.framesMissingTiles, after.tilesLoaded - before.tilesLoaded,
            after.bytesRead - before.bytesRead};
}

Json deviceJson(const BenchDevice& device) {
    return Json{{"vendor", device.vendor},
                {"renderer", device.renderer},
                {"version", device.version},
                {"timestamp_bits", device.timestampBits}};
}

Json mapRunJson(const MapRun& run) {
    Json result;
    result["map"] = run.map;
    result["path"] = run.path;
    result["grid"] = Json{{"width", run.gridWidth}, {"height", run.gridHeight}};
    result["level_of_detail_asked"] = run.levelOfDetailAsked;
    result["level_of_detail"] = run.levelOfDetail;
    result["lod_error_pixels"] = run.levelOfDetail ? Json(asTyped(run.lodErrorPixels)) : Json(nullptr);
    result["fallback_reason"] = run.fallbackReason.empty() ? Json(nullptr) : Json(run.fallbackReason);
    result["stream_asked"] = run.streamAsked;
    result["streamed"] = run.streamed;
    result["pyramid_built"] = run.pyramidBuilt;
    result["stream"] = run.streamed ? streamJson(run.streamTotals) : Json(nullptr);
    result["resident_bytes_after_startup"] = run.residentBytesAfterStartup;
    result["peak_resident_bytes"] = run.peakResidentBytes;
    Json startup = Json::object();
    for (const StartupPhaseLog::Phase& phase : run.startup) startup[phase.name] = rounded(phase.ms);
    result["startup_ms"] = startup;
    result["startup_total_ms"] = rounded(totalMs(run.startup));
    Json sizes = Json::array();
    for (const SizeRun& size : run.sizes) sizes.push_back(sizeRunJson(size, run));
    result["sizes"] = sizes;
    return result;
}

Json reportJson(const Json& device, const BenchOptions& options, const std::vector<Json>& maps) {
    Json report;
    report["tool"] = "kelta-bench";
    report["device"] = device;
    report["vsync"] = false;
    report["frames"] = options.frames;
    report["warmup_frames"] = options.warmup;
    report["frame_time_step_s"] = BENCH_FRAME_SECONDS;
    // The terrain options that change what each frame draws, and so its cost.
    const TerrainOptions& terrain = options.terrain;
    report["exaggeration"] = terrain.exaggeration;
    report["view_distance"] = asTyped(terrain.viewDistance);
    if (terrain.drapePath.empty()) {
        report["drape"] = nullptr;
    } else {
        const bool bandsGiven = terrain.drapeBands[0] != 0;
        report["drape"] = Json{{"path", terrain.drapePath},
                               {"bands", bandsGiven ? Json(terrain.drapeBands) : Json(nullptr)}};
    }
    report["camera_path"] =
        "start pose, climbing 0.5 units/s, view swinging 22.5 degrees either way with a 10 s period";
    report["flight"] = options.flight;
    report["panel"] = options.panel;
    if (options.flight) {
        report["flight_path"] = "from a quarter of the way in along the start heading, straight on at " +
                                std::to_string(static_cast<int>(FLIGHT_UNITS_PER_SECOND)) +
                                " units/s of real time; static: as many frames standing there once settled; "
                                "settled flight: each of the flight's poses drawn again once its tiles had all arrived";
    }
    report["statistics"] =
        "median and p95 interpolate linearly between the nearest ranks; fps = 1000 / CPU frame median; "
        "GPU times from GL timestamp queries, each pass from the stamp before it";
    report["maps"] = maps;
    return report;
}

std::string jsonText(const Json& json, int indent) {
    return json.dump(indent, ' ', false, Json::error_handler_t::replace);
}

std::string formatTable(const Json& report) {
    std::ostringstream out;
    const Json& device = report["device"];
    out << "KELTA frame benchmark on " << device["renderer"].get<std::string>() << ", OpenGL "
        << device["version"].get<std::string>() << "\n";
    out << report["frames"].get<int>() << " measured frames after " << report["warmup_frames"].get<int>()
        << " warm-up frames at each size, vertical sync off";
    if (report["flight"].get<bool>()) {
        out << "; flights forward at " << static_cast<int>(FLIGHT_UNITS_PER_SECOND)
            << " units a second against the same frames standing still";
    }
    if (device["timestamp_bits"].get<int>() == 0) out << "; this GL has no timestamp queries, so no GPU times";
    out << "\n";
    const TerrainOptions defaults;
    const Json& drape = report["drape"];
    if (report["exaggeration"].get<double>() != defaults.exaggeration ||
        report["view_distance"].get<double>() != defaults.viewDistance || !drape.is_null()) {
        char line[96];
        std::snprintf(line, sizeof line, "Exaggeration %g, view distance %g, ", report["exaggeration"].get<double>(),
                      report["view_distance"].get<double>());
        out << line << (drape.is_null() ? "no drape" : "drape " + drape["path"].get<std::string>());
        if (!drape.is_null() && drape["bands"].is_array()) {
            const Json& bands = drape["bands"];
            out << " (bands " << bands[0].get<int>() << "," << bands[1].get<int>() << "," << bands[2].get<int>() << ")";
        }
        out << "\n";
    }
    for (const Json& map : report["maps"]) {
        const Json& grid = map["grid"];
        out << "\n" << map["map"].get<std::string>() << " (" << grid["width"].get<int>() << " x "
            << grid["height"].get<int>() << ", " << drawingText(map) << ")\n";
        out << row("start-up", {"ms"});
        for (const auto& phase : map["startup_ms"].items()) out << row(phase.key(), {milliseconds(phase.value())});
        out << row("total", {milliseconds(map["startup_total_ms"])});
        out << row("resident at start-up", {megabytes(map["resident_bytes_after_startup"])});
        out << row("peak resident", {megabytes(map["peak_resident_bytes"])});
        writeStream(out, map["stream"]);
        for (const Json& size : map["sizes"]) {
            out << "\n";
            writeSize(out, size);
        }
    }
    return out.str();
}
