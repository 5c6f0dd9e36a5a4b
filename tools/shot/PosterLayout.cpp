// The tiles of a poster: where each is drawn and which part of it is kept.
#include "tools/shot/PosterLayout.h"

#include <algorithm>
#include <cstddef>

namespace {

// One tile's extent along one side of the picture.
struct Span {
    int drawnStart = 0;
    int keptStart = 0;
    int keptLength = 0;
};

std::vector<Span> spansAlong(int length, int tileSide, int margin, int& drawnLength) {
    if (length <= tileSide + 2 * margin) {
        drawnLength = length;
        return {Span{0, 0, length}};
    }
    drawnLength = tileSide + 2 * margin;
    std::vector<Span> spans;
    for (int kept = 0; kept < length; kept += tileSide) {
        const int drawn = std::clamp(kept - margin, 0, length - drawnLength);
        spans.push_back(Span{drawn, kept, std::min(tileSide, length - kept)});
    }
    return spans;
}

int roundUpToTexels(int pixels) { return (pixels + BLUR_DOWNSAMPLING - 1) / BLUR_DOWNSAMPLING * BLUR_DOWNSAMPLING; }

}  // namespace

int PosterLayout::tileCount() const {
    size_t count = 0;
    for (const PosterBand& band : bands) count += band.tiles.size();
    return static_cast<int>(count);
}

PixelReach posterMargin() {
    const PixelReach reach = bloomReach();
    return PixelReach{roundUpToTexels(reach.across) + BLUR_DOWNSAMPLING, roundUpToTexels(reach.down) + BLUR_DOWNSAMPLING};
}

PosterLayout planPoster(int width, int height, int tileSide, PixelReach margin) {
    PosterLayout layout;
    const std::vector<Span> columns = spansAlong(width, tileSide, margin.across, layout.drawnWidth);
    const std::vector<Span> rows = spansAlong(height, tileSide, margin.down, layout.drawnHeight);
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        PosterBand band{row->keptStart, row->keptLength, {}};
        for (const Span& column : columns) {
            band.tiles.push_back(PosterTile{
                PixelRect{column.drawnStart, row->drawnStart, layout.drawnWidth, layout.drawnHeight},
                PixelRect{column.keptStart, row->keptStart, column.keptLength, row->keptLength}});
        }
        layout.bands.push_back(std::move(band));
    }
    return layout;
}
