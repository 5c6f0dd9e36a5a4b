// The blur of the bright pass as the frame runs it, and where its texels lie over a picture or a
// part of one: what a part drawn alone needs to blur as the whole picture does. Free of GL.
#pragma once

// The blur of a frame's bright pass: BLUR_ITERATIONS vertical-then-horizontal pass pairs into targets
// of 1 / BLUR_DOWNSAMPLING of the scene's size a side, the first vertical pass reading the scene's
// bright texture itself, each tap blurRadius(iteration) texels of its input apart.
constexpr int BLUR_ITERATIONS = 10;
constexpr int BLUR_DOWNSAMPLING = 4;
// Taps on each side of the centre, as gaussianBlur.frag's weights have them.
constexpr int BLUR_TAPS_EACH_SIDE = 4;
// Wide taps first: a wide reach in few passes, then smoothing of the steps they leave.
inline float blurRadius(int iteration) { return iteration == 0 ? 10.0f : iteration == 1 ? 5.0f : 1.0f; }

// How far, in the scene's pixels, the pixels of the bright pass that a final pixel's bloom draws on
// lie from it at most, across and down, where the blur texels are BLUR_DOWNSAMPLING pixels wide;
// nothing farther off changes it.
struct PixelReach {
    int across = 0;
    int down = 0;
};
PixelReach bloomReach();

// A texture's coordinates as a pass reads them, from the pass's own (0 to 1 over its target): scaled,
// then offset, on each axis. The identity reads the texture over the target as it lies.
struct TextureWindow {
    float scale[2] = {1.0f, 1.0f};
    float offset[2] = {0.0f, 0.0f};
};

// Where the blur targets' texels lie over a part of a picture: the whole picture's blur targets have
// max(1, side / BLUR_DOWNSAMPLING) texels a side, spread evenly over it (a little wider than
// BLUR_DOWNSAMPLING pixels where the side is not a multiple of it); a part's have those of them that
// reach into the part, so that a part drawn alone blurs on the whole picture's texels.
struct BlurGrid {
    int width = 1;
    int height = 1;
    // Where the pass that reads the scene target, the part's, reads it at the blur targets' texels.
    TextureWindow sceneFromBlur;
    // Where the final pass reads the blur target at the part's pixels.
    TextureWindow blurFromOutput;
};

// The grid over pixels [x, x + width) x [y, y + height) (from the bottom-left) of a pictureWidth x
// pictureHeight picture; over the whole picture both windows are the identity, exactly, as they are
// over parts on multiples of BLUR_DOWNSAMPLING of a picture whose sides are such multiples.
BlurGrid blurGridOf(int pictureWidth, int pictureHeight, int x, int y, int width, int height);
