// Reads the tiles a frame wants on background threads, so that drawing never waits for the disk or
// the network: the frame says what it wants, and takes what has arrived since. Free of GL.
#pragma once

#include "io/TileSource.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TileLoader {
public:
    static constexpr int THREADS = 2;
    static constexpr std::chrono::milliseconds RETRY_PAUSE{2000};

    // Starts `threads` readers of `source`, which they share: it lives until the last of them ends.
    explicit TileLoader(std::shared_ptr<const TileSource> source, int threads = THREADS,
                        std::chrono::milliseconds retryPause = RETRY_PAUSE);
    // Stops the readers without waiting for them: a read under way (a server that stalls, say) is
    // abandoned, and its reader ends, releasing what it holds, when that read returns. Tiles not
    // yet taken are dropped.
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
    // Waits until every tile asked for has been read (or its read has failed) or `longest` has
    // passed, for a caller that has nothing to do meanwhile. Taking the whole wish list's tiles
    // before asking again is what frames far slower than the readers do.
    void awaitFinished(std::chrono::milliseconds longest);
    // The first failure's message, once: later calls give nothing, until the loader is made anew.
    std::optional<std::string> failure();

    // Runs `work` on the loader's background thread, after the work given before: work on the
    // map's heights that no frame waits for (the shadows the terrain casts). The thread runs at a
    // lower priority than the readers and the frames, which a thread cannot give back, so it is
    // one of its own. Work not begun when the loader goes is dropped; work under way is left to end.
    void runInBackground(std::function<void()> work);

private:
    // What the readers and the loader share; the readers keep it alive after the loader has gone.
    struct Shared;
    std::shared_ptr<Shared> shared;
};
