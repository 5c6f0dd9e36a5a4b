// The blur's reach and its texels' grid.
#include "post/BlurGrid.h"

#include <algorithm>

PixelReach bloomReach() {
    // Counted first in the blur targets' texels: the final pass's filtered lookup reaches the next
    // texel, and each pass its taps times its radius along its axis (whole texels, so that the taps
    // land on texel centres and read no neighbour).
    int acrossTexels = 1, downTexels = 1, downScenePixels = 0;
    for (int iteration = 0; iteration < BLUR_ITERATIONS; ++iteration) {
        const int taps = BLUR_TAPS_EACH_SIDE * static_cast<int>(blurRadius(iteration));
        acrossTexels += taps;
        // The first vertical pass reads the scene's bright texture, whose texels are the scene's pixels.
        if (iteration == 0) {
            downScenePixels += taps;
        } else {
            downTexels += taps;
        }
    }
    // Where the first pass reads the scene, at a texel's centre, its filter takes the two middle
    // pixels of the texel's BLUR_DOWNSAMPLING; from the far side of the final pixel's own texel that
    // is half a texel beyond the texels counted.
    const int halfTexel = BLUR_DOWNSAMPLING / 2;
    return PixelReach{acrossTexels * BLUR_DOWNSAMPLING + halfTexel,
                      downTexels * BLUR_DOWNSAMPLING + halfTexel + downScenePixels};
}

namespace {

// One axis of a blur grid: the part's texels, and where the scene and the blur texture are read.
struct GridAxis {
    int texels = 1;
    float sceneScale = 1.0f, sceneOffset = 0.0f;
    float blurScale = 1.0f, blurOffset = 0.0f;
};

GridAxis gridAxis(int picture, int start, int length) {
    // Texel i of the whole picture's `whole` spans pixels [i picture / whole, (i + 1) picture / whole).
    const long long whole = std::max(1, picture / BLUR_DOWNSAMPLING);
    const long long first = start * whole / picture;
    const long long end = ((start + length) * whole + picture - 1) / picture;
    GridAxis axis;
    axis.texels = static_cast<int>(end - first);
    // In whole numbers first, so that over the whole picture the scales are 1 and the offsets 0 exactly.
    const double scenePart = double(whole) * length, blurPart = double(picture) * axis.texels;
    axis.sceneScale = static_cast<float>(double(axis.texels) * picture / scenePart);
    axis.sceneOffset = static_cast<float>(double(first * picture - start * whole) / scenePart);
    axis.blurScale = static_cast<float>(double(length) * whole / blurPart);
    axis.blurOffset = static_cast<float>(double(start * whole - first * picture) / blurPart);
    return axis;
}

}  // namespace

BlurGrid blurGridOf(int pictureWidth, int pictureHeight, int x, int y, int width, int height) {
    const GridAxis across = gridAxis(pictureWidth, x, width), down = gridAxis(pictureHeight, y, height);
    BlurGrid grid;
    grid.width = across.texels;
    grid.height = down.texels;
    grid.sceneFromBlur = TextureWindow{{across.sceneScale, down.sceneScale}, {across.sceneOffset, down.sceneOffset}};
    grid.blurFromOutput = TextureWindow{{across.blurScale, down.blurScale}, {across.blurOffset, down.blurOffset}};
    return grid;
}
