// Background readers of the tiles a frame wants: one wish list, replaced each frame, shared by the
// readers, and the finished tiles kept until the frame takes them.
#include "io/TileLoader.h"

#include "io/ThreadPriority.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>

struct TileLoader::Shared {
    Shared(std::shared_ptr<const TileSource> source, std::chrono::milliseconds retryPause)
        : source(std::move(source)), retryPause(retryPause) {}

    // Reads what is wanted until the loader stops.
    void read();
    // Runs the background work until the loader stops.
    void runBackgroundWork();

    const std::shared_ptr<const TileSource> source;
    const std::chrono::milliseconds retryPause;
    std::mutex guard;
    std::condition_variable wakeReaders;
    std::condition_variable tileFinished;
    bool stopping = false;
    std::deque<TileKey> waiting;
    std::unordered_set<TileKey, TileKeyHash> beingRead;
    std::unordered_set<TileKey, TileKeyHash> readNotTaken;
    std::unordered_map<TileKey, std::chrono::steady_clock::time_point, TileKeyHash> failedAt;
    std::vector<Tile> finishedTiles;
    std::optional<std::string> firstFailure;
    bool failureTold = false;
    std::condition_variable wakeBackground;
    std::deque<std::function<void()>> backgroundWork;
    bool backgroundStarted = false;
};


TileLoader::TileLoader(std::shared_ptr<const TileSource> source, int threads, std::chrono::milliseconds retryPause)
    : shared(std::make_shared<Shared>(std::move(source), retryPause)) {
    for (int k = 0; k < std::max(1, threads); ++k) {
        std::thread([state = shared] { state->read(); }).detach();
    }
}

TileLoader::~TileLoader() {
    {
        const std::lock_guard<std::mutex> lock(shared->guard);
        shared->stopping = true;
        shared->waiting.clear();
        shared->finishedTiles.clear();
        shared->backgroundWork.clear();
    }
    shared->wakeReaders.notify_all();
    shared->wakeBackground.notify_all();
}

void TileLoader::runInBackground(std::function<void()> work) {
    {
        const std::lock_guard<std::mutex> lock(shared->guard);
        shared->backgroundWork.push_back(std::move(work));
        if (!shared->backgroundStarted) {
            shared->backgroundStarted = true;
            std::thread([state = shared] { state->runBackgroundWork(); }).detach();
        }
    }
    shared->wakeBackground.notify_all();
}

void TileLoader::request(const std::vector<TileKey>& wanted) {
    const auto now = std::chrono::steady_clock::now();
    {
        const std::lock_guard<std::mutex> lock(shared->guard);
        shared->waiting.clear();
        std::unordered_set<TileKey, TileKeyHash> queued;
        for (const TileKey& key : wanted) {
            if (shared->beingRead.count(key) != 0 || shared->readNotTaken.count(key) != 0) continue;
            const auto failed = shared->failedAt.find(key);
            if (failed != shared->failedAt.end() && now - failed->second < shared->retryPause) continue;
            if (queued.insert(key).second) shared->waiting.push_back(key);
        }
        if (shared->waiting.empty()) return;
    }
    shared->wakeReaders.notify_all();
}

void TileLoader::takeFinished(std::vector<Tile>& finished) {
    const std::lock_guard<std::mutex> lock(shared->guard);
    for (Tile& tile : shared->finishedTiles) {
        shared->readNotTaken.erase(tile.key);
        finished.push_back(std::move(tile));
    }
    shared->finishedTiles.clear();
}

void TileLoader::awaitFinished(std::chrono::milliseconds longest) {
    std::unique_lock<std::mutex> lock(shared->guard);
    shared->tileFinished.wait_for(lock, longest, [this] { return shared->waiting.empty() && shared->beingRead.empty(); });
}

std::optional<std::string> TileLoader::failure() {
    const std::lock_guard<std::mutex> lock(shared->guard);
    if (shared->failureTold || !shared->firstFailure) return std::nullopt;
    shared->failureTold = true;
    return shared->firstFailure;
}

void TileLoader::Shared::read() {
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
        const bool read = source->readTile(key, tile, message);
        const std::lock_guard<std::mutex> lock(guard);
        beingRead.erase(key);
        // A loader gone meanwhile wants nothing more.
        if (stopping) return;
        if (read) {
            failedAt.erase(key);
            readNotTaken.insert(key);
            finishedTiles.push_back(std::move(tile));
            tileFinished.notify_all();
        } else {
            failedAt[key] = std::chrono::steady_clock::now();
            if (!firstFailure) firstFailure = message;
            tileFinished.notify_all();
        }
    }
}

void TileLoader::Shared::runBackgroundWork() {
    // The frames and the tiles they wait for come first.
    lowerThisThreadsPriority();
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock<std::mutex> lock(guard);
            wakeBackground.wait(lock, [this] { return stopping || !backgroundWork.empty(); });
            if (stopping) return;
            work = std::move(backgroundWork.front());
            backgroundWork.pop_front();
        }
        work();
    }
}
