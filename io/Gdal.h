// GDAL as KELTA uses it: started once with a bounded block cache, its datasets closed by their
// owners, and its messages kept for KELTA's own one-line reports instead of reaching the terminal.
#pragma once

#include <gdal.h>

#include <memory>
#include <string>
#include <vector>

// While one lives, GDAL is started and whatever GDAL reports on this thread is kept, not printed.
// One lives around every sequence of GDAL calls whose failure KELTA reports.
class GdalMessages {
public:
    GdalMessages();
    ~GdalMessages();
    GdalMessages(const GdalMessages&) = delete;
    GdalMessages& operator=(const GdalMessages&) = delete;

    // GDAL's own reason for a failure, on one line: its first error since this began (later ones
    // tend to repeat it from further up), else its last warning.
    std::string reason() const;
    // Whether GDAL has reported a failure since this began: some (a write that could not be
    // flushed when a dataset closes) have no other sign.
    bool sawFailure() const { return !firstError.empty(); }

private:
    static void CPL_STDCALL keep(CPLErr kind, CPLErrorNum number, const char* text);

    std::string firstError;
    std::string lastWarning;
};

// While one lives, GDAL's block cache may grow to the larger bound of a pass that writes a whole
// map's levels. When the last goes, the cache is brought back within its own bound, which also
// hands back the blocks of the map's sources that the pass left there: they would stay as long as
// the map stays open, on top of the tiles the frames keep.
class BlockCacheForBuild {
public:
    BlockCacheForBuild();
    ~BlockCacheForBuild();
    BlockCacheForBuild(const BlockCacheForBuild&) = delete;
    BlockCacheForBuild& operator=(const BlockCacheForBuild&) = delete;
};

// A failure to fetch a remote file, said as what happened when GDAL's reason tells it: the server's
// answer ("the server answered 404 Not Found"), a time-out, a server out of reach, a server without
// range requests. Empty for any other reason. GdalMessages::reason() gives these in GDAL's stead.
std::string networkFailureOf(const std::string& gdalReason);
// Whether a reason GdalMessages gave is one of those: the file was not fetched, so says nothing of its format.
bool isNetworkFailure(const std::string& reason);
// Whether openGdalDataset refused the file, or one it is made of, for not being a regular file (a
// pipe, a device) before GDAL read it: a reason that says nothing of its format either.
bool isUnreadableKind(const std::string& reason);

struct GdalDatasetCloser {
    void operator()(void* dataset) const { GDALClose(dataset); }
};
// A dataset that closes itself (GDALDatasetH is a pointer to void).
using GdalDataset = std::unique_ptr<void, GdalDatasetCloser>;

// Opens the raster at `path` read-only. A local dataset made of a file that is neither a regular
// file, a folder nor one of GDAL's own /vsi paths (a named pipe, a device, named directly or as a
// VRT's source) is refused before any of its samples or overviews is read: reading one would wait
// for a writer or never end. On failure returns no dataset and one line saying why.
GdalDataset openGdalDataset(const std::string& path, std::string& message);

// The files the dataset is made of (a VRT's sources too), each named absolutely but for GDAL's
// virtual paths: a map opened by a relative name from another folder is made of the same files.
std::vector<std::string> gdalFilesOf(GDALDatasetH dataset);

// The MEM driver, which KELTA's in-memory rasters are made with.
GDALDriverH memoryDriver();
