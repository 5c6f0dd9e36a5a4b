// Texture uploads from BMP files: sRGB storage, mipmaps built on the processor, trilinear filtering.
#include "gpu/Texture.h"

#include <sstream>
#include <string>
#include <vector>

#include "io/Fatal.h"
#include "io/Bands.h"
#include "io/Bitmap.h"
#include "gpu/SrgbMipChain.h"
#include "gpu/UnpackAlignment.h"
#include "io/DataPath.h"

namespace {

const char* const LOAD_FAILURE_PREFIX = "Could not load texture: ";

GLint largestTextureSide() {
    GLint largestSide = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largestSide);
    return largestSide;
}

bool fitsDevice(int width, int height, GLint largestSide) { return width <= largestSide && height <= largestSide; }

// A side beyond the device's limit would leave the texture undefined (black) without a word.
void exitUnlessUsable(const Bitmap& bitmap, const char* path, GLint largestSide) {
    if (!bitmap.isLoaded) fatal(LOAD_FAILURE_PREFIX + bitmap.message, describeLookup(path, bitmap.resolvedPath));
    if (fitsDevice(bitmap.width, bitmap.height, largestSide)) return;
    std::ostringstream line;
    line << LOAD_FAILURE_PREFIX << path << " is " << bitmap.width << " x " << bitmap.height
         << " pixels, larger than this GPU's " << largestSide << " (GL_MAX_TEXTURE_SIZE)";
    fatal(line.str());
}

void specifyLevel(GLenum target, int level, GLint internalFormat, int width, int height, int layers, GLenum format,
                  const uint8_t* texels) {
    if (target == GL_TEXTURE_2D_ARRAY) {
        glTexImage3D(target, level, internalFormat, width, height, layers, 0, format, GL_UNSIGNED_BYTE, texels);
    } else {
        glTexImage2D(target, level, internalFormat, width, height, 0, format, GL_UNSIGNED_BYTE, texels);
    }
}

// Uploads `base` (layers of width x height texels of 3 or 4 bytes, rows tightly packed) and the
// levels below it to the bound texture. Where the chain stops above an odd side the driver
// generates the rest from its last level, as it would have generated them all.
void uploadMipmapped(GLenum target, GLint internalFormat, int width, int height, int layers, const uint8_t* base) {
    const int channels = internalFormat == GL_SRGB8_ALPHA8 ? 4 : 3;
    const GLenum format = channels == 4 ? GL_RGBA : GL_RGB;
    SrgbMipChain chain(width, height, layers, channels);
    chain.build(base, hardwareThreads());
    {
        // Rows of three-byte texels are not padded to the default alignment of 4.
        const UnpackAlignment alignment(1);
        specifyLevel(target, 0, internalFormat, width, height, layers, format, base);
        for (int level = 1; level <= chain.levelCount(); ++level) {
            specifyLevel(target, level, internalFormat, chain.width(level), chain.height(level), layers, format,
                         chain.texels(level));
        }
    }
    if (chain.reachesOneTexel()) return;
    glTexParameteri(target, GL_TEXTURE_BASE_LEVEL, chain.levelCount());
    glGenerateMipmap(target);
    glTexParameteri(target, GL_TEXTURE_BASE_LEVEL, 0);
}

// Trilinear filtering of the bound 2D texture, with the device's highest anisotropy.
void filterTrilinear() {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    // A device without anisotropic filtering keeps plain trilinear filtering rather than
    // raising an error on an unknown parameter.
    if (GLEW_EXT_texture_filter_anisotropic || GLEW_ARB_texture_filter_anisotropic) {
        GLfloat maxAnisotropy = 1.0f;
        glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT, &maxAnisotropy);
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY_EXT, maxAnisotropy);
    }
}

}  // namespace

Texture::Texture(const char* path) {
    const GLint largestSide = largestTextureSide();
    std::vector<uint8_t> base;
    Bitmap bitmap;
    // A size the device refuses keeps the pixels in the bitmap, which only its failure needs.
    bitmap.load(path, [&](const Bitmap& read) -> uint8_t* {
        if (!fitsDevice(read.width, read.height, largestSide)) return nullptr;
        base.resize(static_cast<size_t>(read.width) * read.height * 3);
        return base.data();
    });
    exitUnlessUsable(bitmap, path, largestSide);
    width = bitmap.width;
    height = bitmap.height;

    glGenTextures(1, &id);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, id);
    uploadMipmapped(GL_TEXTURE_2D, GL_SRGB8, width, height, 1, base.data());
    filterTrilinear();
}

Texture::Texture(int width, int height, const uint8_t* rgba) : width(width), height(height) {
    glGenTextures(1, &id);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, id);
    uploadMipmapped(GL_TEXTURE_2D, GL_SRGB8_ALPHA8, width, height, 1, rgba);
    filterTrilinear();
    // Repeating would bleed one border of the picture into the opposite one in its smaller mipmaps.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

Texture::~Texture() { glDeleteTextures(1, &id); }

TextureAtlas::TextureAtlas(int layerCount, const char* const* paths) : layerCount(layerCount) {
    const GLint largestSide = largestTextureSide();
    std::vector<std::string> files;
    for (int layer = 0; layer < layerCount; ++layer) files.push_back(resolveDataPath(paths[layer]));
    // The first file's size is every layer's: its headers tell it before any pixels are read, so
    // that all the files are read at once, each straight into its layer.
    Bitmap first;
    if (!first.loadHeaders(files[0])) fatal(LOAD_FAILURE_PREFIX + first.message, describeLookup(paths[0], files[0]));
    width = first.width;
    height = first.height;
    const size_t layerBytes = static_cast<size_t>(width) * height * 3;
    std::vector<uint8_t> layers(fitsDevice(width, height, largestSide) ? layerBytes * layerCount : 0);
    std::vector<Bitmap> bitmaps(layerCount);
    inBands(hardwareThreads(), layerCount, [&](int, int firstLayer, int lastLayer) {
        for (int layer = firstLayer; layer <= lastLayer; ++layer) {
            bitmaps[layer].loadFile(files[layer], [&](const Bitmap& read) -> uint8_t* {
                if (layers.empty() || read.width != width || read.height != height) return nullptr;
                return layers.data() + layerBytes * layer;
            });
        }
    });
    // Failures are told as reading the files one after another would meet them.
    for (int layer = 0; layer < layerCount; ++layer) {
        exitUnlessUsable(bitmaps[layer], paths[layer], largestSide);
        if (bitmaps[layer].width != width || bitmaps[layer].height != height) {
            fatal("Could not create texture atlas: texture dimensions don't match");
        }
    }

    glGenTextures(1, &id);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D_ARRAY, id);
    glTexParameteri(GL_TEXTURE_2D_ARRAY, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D_ARRAY, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    uploadMipmapped(GL_TEXTURE_2D_ARRAY, GL_SRGB8, width, height, layerCount, layers.data());
}

TextureAtlas::~TextureAtlas() { glDeleteTextures(1, &id); }
