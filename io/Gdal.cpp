// Starts GDAL once for the whole process and catches its messages, so that the terminal only ever
// shows KELTA's own lines.
#include "io/Gdal.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <cpl_vsi.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <utility>

#include "io/DataPath.h"

namespace {

// GDAL's cache of decoded blocks would otherwise grow to 5 % of the machine's memory while a large
// file is read once, front to back. Reads of tiles, which the tile cache keeps, need the blocks
// only while their neighbours are read; a pyramid build writes its levels through the cache.
const GIntBig BLOCK_CACHE_BYTES = 16 * 1024 * 1024;
const GIntBig BUILD_BLOCK_CACHE_BYTES = 64 * 1024 * 1024;

std::mutex buildCacheGuard;
int buildsUnderWay = 0;

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

// The start of each network failure's wording, which tells it apart from GDAL's own reasons.
const char* const SERVER_ANSWERED = "the server answered ";
const char* const SERVER_SILENT = "the server did not answer in time";
const char* const SERVER_UNREACHABLE = "the server could not be reached";
const char* const SERVER_WITHOUT_RANGES = "the server does not answer range requests";

// The reason phrase of the HTTP statuses a map's server is likely to answer with.
const std::pair<int, const char*> HTTP_STATUSES[] = {
    {400, "Bad Request"},          {401, "Unauthorized"},          {403, "Forbidden"},
    {404, "Not Found"},            {405, "Method Not Allowed"},    {407, "Proxy Authentication Required"},
    {408, "Request Timeout"},      {410, "Gone"},                  {416, "Range Not Satisfiable"},
    {429, "Too Many Requests"},    {500, "Internal Server Error"}, {501, "Not Implemented"},
    {502, "Bad Gateway"},          {503, "Service Unavailable"},   {504, "Gateway Timeout"},
};

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

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
        if (isGdalVirtualPath(*file) || ::stat(*file, &facts) != 0) continue;
        if (!S_ISREG(facts.st_mode) && !S_ISDIR(facts.st_mode)) return *file;
    }
    return "";
}

}  // namespace

BlockCacheForBuild::BlockCacheForBuild() {
    startGdal();
    const std::lock_guard<std::mutex> lock(buildCacheGuard);
    if (buildsUnderWay++ == 0) GDALSetCacheMax64(BUILD_BLOCK_CACHE_BYTES);
}

BlockCacheForBuild::~BlockCacheForBuild() {
    const std::lock_guard<std::mutex> lock(buildCacheGuard);
    // Lowering the bound evicts blocks until the cache is within it.
    if (--buildsUnderWay == 0) GDALSetCacheMax64(BLOCK_CACHE_BYTES);
}

std::string networkFailureOf(const std::string& reason) {
    // GDAL's /vsicurl/ words them "HTTP response code: 404" (with the server's text after it, at times),
    // "CURL error: <curl's message>" and "Range downloading not supported by this server!".
    const std::string httpCode = "HTTP response code: ";
    const size_t code = reason.find(httpCode);
    if (code != std::string::npos) {
        const int status = std::atoi(reason.c_str() + code + httpCode.size());
        std::string answer = SERVER_ANSWERED + std::to_string(status);
        for (const auto& [number, phrase] : HTTP_STATUSES) {
            if (number == status) answer += std::string(" ") + phrase;
        }
        return answer;
    }
    if (contains(reason, "Range downloading not supported")) {
        return std::string(SERVER_WITHOUT_RANGES) + ", which reading a map from it needs";
    }
    const std::string curlError = "CURL error: ";
    const size_t curl = reason.find(curlError);
    if (curl == std::string::npos) return "";
    const std::string said = reason.substr(curl + curlError.size());
    if (contains(said, "timed out")) return std::string(SERVER_SILENT) + " (curl: " + said + ")";
    return std::string(SERVER_UNREACHABLE) + " (curl: " + said + ")";
}

bool isNetworkFailure(const std::string& reason) {
    for (const char* start : {SERVER_ANSWERED, SERVER_SILENT, SERVER_UNREACHABLE, SERVER_WITHOUT_RANGES}) {
        if (reason.rfind(start, 0) == 0) return true;
    }
    return false;
}

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
    if (!firstError.empty()) {
        const std::string network = networkFailureOf(firstError);
        return network.empty() ? firstError : network;
    }
    return lastWarning.empty() ? "no reason given" : lastWarning;
}

namespace {

const char* const NOT_A_REGULAR_FILE = " is not a regular file";

}  // namespace

bool isUnreadableKind(const std::string& reason) {
    const std::string ending = NOT_A_REGULAR_FILE;
    return reason.size() > ending.size() && reason.compare(reason.size() - ending.size(), ending.size(), ending) == 0;
}

GdalDataset openGdalDataset(const std::string& path, std::string& message) {
    GdalMessages messages;
    const char* const named[] = {path.c_str(), nullptr};
    std::string unusable = firstUnreadableKind(named);
    if (!unusable.empty()) {
        message = unusable + NOT_A_REGULAR_FILE;
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
            message = "Map source " + unusable + NOT_A_REGULAR_FILE;
            dataset.reset();
        }
    }
    return dataset;
}

std::vector<std::string> gdalFilesOf(GDALDatasetH dataset) {
    std::vector<std::string> files;
    char** list = GDALGetFileList(dataset);
    for (char** file = list; file != nullptr && *file != nullptr; ++file) {
        std::error_code error;
        files.push_back(isGdalVirtualPath(*file) ? std::string(*file)
                                                 : std::filesystem::weakly_canonical(std::filesystem::absolute(*file, error), error).string());
    }
    CSLDestroy(list);
    return files;
}

GDALDriverH memoryDriver() {
    startGdal();
    return GDALGetDriverByName("MEM");
}
