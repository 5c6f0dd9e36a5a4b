// Background readers of the tiles a frame wants: one wish list, replaced each frame, shared by the
// readers, and the finished tiles kept until the frame takes them.
#include "io/TileLoader.h"

#include <algorithm>

TileLoader::TileLoader(const TileSource& source, int threads, std::chrono::milliseconds retryPause)
    : source(source), retryPause(retryPause) {
    for (int k = 0; k < std::max(1, threads); ++k) readers.emplace_back([this] { read(); });
}

TileLoader::~TileLoader() {
    {
        const std::lock_guard<std::mutex> lock(guard);
        stopping = true;
        waiting.clear();
    }
    wakeReaders.notify_all();
    for (std::thread& reader : readers) reader.join();
}

void TileLoader::request(const std::vector<TileKey>& wanted) {
    const auto now = std::chrono::steady_clock::now();
    {
        const std::lock_guard<std::mutex> lock(guard);
        waiting.clear();
        std::unordered_set<TileKey, TileKeyHash> queued;
        for (const TileKey& key : wanted) {
            if (beingRead.count(key) != 0 || readNotTaken.count(key) != 0) continue;
            const auto failed = failedAt.find(key);
            if (failed != failedAt.end() && now - failed->second < retryPause) continue;
            if (queued.insert(key).second) waiting.push_back(key);
        }
        if (waiting.empty()) return;
    }
    wakeReaders.notify_all();
}

void TileLoader::takeFinished(std::vector<Tile>& finished) {
    const std::lock_guard<std::mutex> lock(guard);
    for (Tile& tile : finishedTiles) {
        readNotTaken.erase(tile.key);
        finished.push_back(std::move(tile));
    }
    finishedTiles.clear();
}

std::optional<std::string> TileLoader::failure() {
    const std::lock_guard<std::mutex> lock(guard);
    if (failureTold || !firstFailure) return std::nullopt;
    failureTold = true;
    return firstFailure;
}

void TileLoader::read() {
    for (;;) {
        TileKey key;
        {
            std::unique_lock<std::mutex> lock(guard);
            wakeReaders.wait(lock, [this] { return stopping || !waiting.empty(); });
            if (stopping) return;
            key = waiting.front();
            waiting.pop_front();
            beingRead.insert(key);
        }
        Tile tile;
        std::string message;
        const bool read = source.readTile(key, tile, message);
        const std::lock_guard<std::mutex> lock(guard);
        beingRead.erase(key);
        if (read) {
            failedAt.erase(key);
            readNotTaken.insert(key);
            finishedTiles.push_back(std::move(tile));
        } else {
            failedAt[key] = std::chrono::steady_clock::now();
            if (!firstFailure) firstFailure = message;
        }
    }
}
