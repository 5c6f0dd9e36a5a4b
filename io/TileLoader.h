// Reads the tiles a frame wants on background threads, so that drawing never waits for the disk or
// the network: the frame says what it wants, and takes what has arrived since. Free of GL.
#pragma once

#include "io/TileSource.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class TileLoader {
public:
    static constexpr int THREADS = 2;
    static constexpr std::chrono::milliseconds RETRY_PAUSE{2000};

    // Starts `threads` readers of `source`, which must outlive the loader.
    explicit TileLoader(const TileSource& source, int threads = THREADS,
                        std::chrono::milliseconds retryPause = RETRY_PAUSE);
    // Stops the readers, waiting at most for the reads under way (a network read ends within GDAL's
    // timeout); tiles not yet taken are dropped.
    ~TileLoader();
    TileLoader(const TileLoader&) = delete;
    TileLoader& operator=(const TileLoader&) = delete;

    // Replaces the wish list with `wanted`, first wanted first (the caller puts coarse before fine,
    // near before far). Tiles no longer wanted are dropped unless they are being read; tiles being
    // read, or read and not yet taken, are not read again; a tile whose read failed is tried again
    // only once the pause has passed since.
    void request(const std::vector<TileKey>& wanted);
    // Appends the tiles read since the last call to `finished`, without waiting.
    void takeFinished(std::vector<Tile>& finished);
    // The first failure's message, once: later calls give nothing, until the loader is made anew.
    std::optional<std::string> failure();

private:
    void read();

    const TileSource& source;
    const std::chrono::milliseconds retryPause;
    mutable std::mutex guard;
    std::condition_variable wakeReaders;
    bool stopping = false;
    std::deque<TileKey> waiting;
    std::unordered_set<TileKey, TileKeyHash> beingRead;
    std::unordered_set<TileKey, TileKeyHash> readNotTaken;
    std::unordered_map<TileKey, std::chrono::steady_clock::time_point, TileKeyHash> failedAt;
    std::vector<Tile> finishedTiles;
    std::optional<std::string> firstFailure;
    bool failureTold = false;
    std::vector<std::thread> readers;
};
