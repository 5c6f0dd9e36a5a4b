// Starts GDAL once for the whole process and catches its messages, so that the terminal only ever
// shows KELTA's own lines.
#include "io/Gdal.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <cpl_vsi.h>
#include <sys/stat.h>

#include <cstring>
#include <mutex>
#include <utility>

namespace {

// GDAL's cache of decoded blocks would otherwise grow to 5 % of the machine's memory while a large
// file is read once, front to back.
const GIntBig BLOCK_CACHE_BYTES = 64 * 1024 * 1024;

// A map on a web server must never hold the window up for long: a request gives up after these
// (unless the user set them), and a lost connection is reported instead.
const std::pair<const char*, const char*> NETWORK_DEFAULTS[] = {
    {"GDAL_HTTP_TIMEOUT", "10"},
    {"GDAL_HTTP_CONNECTTIMEOUT", "10"},
    {"GDAL_HTTP_MAX_RETRY", "2"},
    {"GDAL_HTTP_RETRY_DELAY", "1"},
};

void startGdal() {
    static std::once_flag started;
    std::call_once(started, [] {
        // Messages from threads and calls outside any GdalMessages are dropped rather than printed.
        CPLSetErrorHandler(CPLQuietErrorHandler);
        GDALAllRegister();
        GDALSetCacheMax64(BLOCK_CACHE_BYTES);
        for (const auto& option : NETWORK_DEFAULTS) {
            if (CPLGetConfigOption(option.first, nullptr) == nullptr) CPLSetConfigOption(option.first, option.second);
        }
    });
}

std::string oneLine(const char* text) {
    std::string line = text != nullptr ? text : "";
    for (char& c : line) {
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    }
    const size_t first = line.find_first_not_of(' ');
    const size_t last = line.find_last_not_of(' ');
    return first == std::string::npos ? std::string() : line.substr(first, last - first + 1);
}

// The first of `files` that is neither a regular file, a folder (a coverage of files) nor a path of
// GDAL's own; empty when there is none. Files that are not there are left to GDAL to report.
std::string firstUnreadableKind(const char* const* files) {
    for (const char* const* file = files; file != nullptr && *file != nullptr; ++file) {
        struct stat facts {};
        if (std::strncmp(*file, "/vsi", 4) == 0 || ::stat(*file, &facts) != 0) continue;
        if (!S_ISREG(facts.st_mode) && !S_ISDIR(facts.st_mode)) return *file;
    }
    return "";
}

}  // namespace

GdalMessages::GdalMessages() {
    startGdal();
    CPLPushErrorHandlerEx(keep, this);
}

GdalMessages::~GdalMessages() { CPLPopErrorHandler(); }

void CPL_STDCALL GdalMessages::keep(CPLErr kind, CPLErrorNum, const char* text) {
    GdalMessages* messages = static_cast<GdalMessages*>(CPLGetErrorHandlerUserData());
    const std::string line = oneLine(text);
    if (messages == nullptr || line.empty()) return;
    if (kind >= CE_Failure) {
        if (messages->firstError.empty()) messages->firstError = line;
    } else if (kind == CE_Warning) {
        messages->lastWarning = line;
    }
}

std::string GdalMessages::reason() const {
    if (!firstError.empty()) return firstError;
    return lastWarning.empty() ? "no reason given" : lastWarning;
}

GdalDataset openGdalDataset(const std::string& path, std::string& message) {
    GdalMessages messages;
    const char* const named[] = {path.c_str(), nullptr};
    std::string unusable = firstUnreadableKind(named);
    if (!unusable.empty()) {
        message = unusable + " is not a regular file";
        return nullptr;
    }
    // A remote file's folder is not listed, nor its side files asked for, one request each: a
    // cloud-optimised GeoTIFF holds all it has. Only for this open, on this thread.
    const bool remote = !VSIIsLocal(path.c_str());
    const char* listing = CPLGetThreadLocalConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", nullptr);
    const std::string previousListing = listing != nullptr ? listing : "";
    if (remote) CPLSetThreadLocalConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", "EMPTY_DIR");
    GdalDataset dataset(GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR, nullptr,
                                   nullptr, nullptr));
    if (remote) {
        CPLSetThreadLocalConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", listing != nullptr ? previousListing.c_str() : nullptr);
    }
    if (!dataset) {
        message = messages.reason();
        return dataset;
    }
    // Opening a VRT does not open its sources yet; asking for its overviews or samples would.
    if (!remote) {
        char** files = GDALGetFileList(dataset.get());
        unusable = firstUnreadableKind(files);
        CSLDestroy(files);
        if (!unusable.empty()) {
            message = "Map source " + unusable + " is not a regular file";
            dataset.reset();
        }
    }
    return dataset;
}

GDALDriverH memoryDriver() {
    startGdal();
    return GDALGetDriverByName("MEM");
}
