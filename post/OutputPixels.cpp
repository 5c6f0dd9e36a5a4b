#include "post/OutputPixels.h"

#include <GL/glew.h>

#include <algorithm>
#include <cstddef>
#include <vector>

RgbImage8 readOutputPixels(unsigned int framebuffer, int width, int height) {
    RgbImage8 image;
    image.width = width;
    image.height = height;
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    std::vector<uint8_t> bottomUp(rowBytes * static_cast<size_t>(height));
    readOutputRows(framebuffer, 0, 0, width, height, width, bottomUp.data());
    // GL rows start at the bottom, PNG rows at the top.
    image.pixels.resize(bottomUp.size());
    for (int row = 0; row < height; ++row) {
        std::copy_n(&bottomUp[rowBytes * static_cast<size_t>(height - 1 - row)], rowBytes,
                    &image.pixels[rowBytes * static_cast<size_t>(row)]);
    }
    return image;
}

void readOutputRows(unsigned int framebuffer, int x, int y, int width, int height, int rowLength, uint8_t* pixels) {
    GLint previousPacking = 4, previousRowLength = 0;
    glGetIntegerv(GL_PACK_ALIGNMENT, &previousPacking);
    glGetIntegerv(GL_PACK_ROW_LENGTH, &previousRowLength);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    if (framebuffer == 0) glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ROW_LENGTH, rowLength);
    glReadPixels(x, y, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels);
    glPixelStorei(GL_PACK_ALIGNMENT, previousPacking);
    glPixelStorei(GL_PACK_ROW_LENGTH, previousRowLength);
}
