// The tiled still: one start-up, then each tile drawn as a part of the whole view, its kept pixels
// read straight into the band of rows being assembled, and each band written out once complete.
#include "tools/shot/PosterRenderer.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/Application.h"
#include "io/PngImage.h"
#include "io/ProgressLine.h"
#include "post/OutputPixels.h"
#include "tools/common/ToolRun.h"
#include "tools/shot/PosterLayout.h"
#include "tools/shot/ShotRenderer.h"

void renderPoster(const ShotOptions& options) {
    const PosterLayout layout = planPoster(options.width, options.height, options.tileSide, posterMargin());
    std::string error;
    PngRowWriter writer(options.outputPath, options.width, options.height, error);
    if (!writer.isOpen()) fail(error);
    const std::unique_ptr<Application> application = startShot(options, layout.drawnWidth, layout.drawnHeight);
    Application& app = *application;

    // The band's rows bottom first, as GL reads them; each tile's kept part lands in its columns.
    const size_t rowBytes = static_cast<size_t>(options.width) * 3;
    int tallestBand = 0;
    for (const PosterBand& band : layout.bands) tallestBand = std::max(tallestBand, band.height);
    std::vector<uint8_t> rows(rowBytes * static_cast<size_t>(tallestBand));

    ProgressLine progress;
    const std::string drawing = app.programName() + ": drawing " + options.outputPath + " in tiles: tile ";
    const std::string tileCount = std::to_string(layout.tileCount());
    int tilesDrawn = 0;
    for (const PosterBand& band : layout.bands) {
        for (const PosterTile& tile : band.tiles) {
            progress.show(drawing + std::to_string(++tilesDrawn) + " of " + tileCount);
            composeShotPart(app, options, tile.drawn);
            readOutputRows(app.outputFramebuffer, tile.kept.x - tile.drawn.x, tile.kept.y - tile.drawn.y, tile.kept.width,
                           tile.kept.height, options.width,
                           &rows[rowBytes * static_cast<size_t>(tile.kept.y - band.y) + size_t(tile.kept.x) * 3]);
        }
        for (int row = band.height - 1; row >= 0; --row) {
            if (!writer.writeRow(&rows[rowBytes * static_cast<size_t>(row)], error)) fail(error);
        }
    }
    progress.end();
    app.shutDown();
    if (!writer.finish(error)) fail(error);
}
