// Texture uploads from BMP files: sRGB storage, generated mipmaps, trilinear filtering.
#include "gpu/Texture.h"

#include <sstream>

#include "io/Fatal.h"
#include "io/Bitmap.h"
#include "gpu/UnpackAlignment.h"
#include "io/DataPath.h"

namespace {

const char* const LOAD_FAILURE_PREFIX = "Could not load texture: ";

// A side beyond the device's limit would leave the texture undefined (black) without a word.
void loadOrExit(Bitmap& bitmap, const char* path) {
    if (!bitmap.load(path)) fatal(LOAD_FAILURE_PREFIX + bitmap.message, describeLookup(path, bitmap.resolvedPath));
    GLint largestSide = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largestSide);
    if (bitmap.width <= largestSide && bitmap.height <= largestSide) return;
    std::ostringstream line;
    line << LOAD_FAILURE_PREFIX << path << " is " << bitmap.width << " x " << bitmap.height
         << " pixels, larger than this GPU's " << largestSide << " (GL_MAX_TEXTURE_SIZE)";
    fatal(line.str());
}

// Mipmaps and trilinear filtering of the bound 2D texture, with the device's highest anisotropy.
void filterMipmapped() {
    glGenerateMipmap(GL_TEXTURE_2D);
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
    Bitmap bitmap;
    loadOrExit(bitmap, path);
    width = bitmap.width;
    height = bitmap.height;

    glGenTextures(1, &id);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, id);
    {
        // Bitmap rows are width * 3 bytes, not padded to the default alignment of 4.
        const UnpackAlignment alignment(1);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_SRGB, width, height, 0, GL_RGB, GL_UNSIGNED_BYTE, bitmap.pixels);
    }
    filterMipmapped();
}

Texture::Texture(int width, int height, const uint8_t* rgba) : width(width), height(height) {
    glGenTextures(1, &id);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, id);
    {
        // Rows of four-byte texels are four-byte aligned, whatever alignment the caller left set.
        const UnpackAlignment alignment(4);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_SRGB8_ALPHA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    }
    filterMipmapped();
    // Repeating would bleed one border of the picture into the opposite one in its smaller mipmaps.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

Texture::~Texture() { glDeleteTextures(1, &id); }

TextureAtlas::TextureAtlas(int layerCount, const char* const* paths) : layerCount(layerCount) {
    glGenTextures(1, &id);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D_ARRAY, id);
    glTexParameteri(GL_TEXTURE_2D_ARRAY, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D_ARRAY, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    const UnpackAlignment alignment(1);
    for (int layer = 0; layer < layerCount; ++layer) {
        Bitmap bitmap;
        loadOrExit(bitmap, paths[layer]);
        if (layer == 0) {
            width = bitmap.width;
            height = bitmap.height;
            glTexImage3D(GL_TEXTURE_2D_ARRAY, 0, GL_SRGB8, width, height, layerCount, 0, GL_RGB,
                         GL_UNSIGNED_BYTE, nullptr);
        } else if (bitmap.width != width || bitmap.height != height) {
            fatal("Could not create texture atlas: texture dimensions don't match");
        }
        glTexSubImage3D(GL_TEXTURE_2D_ARRAY, 0, 0, 0, layer, width, height, 1, GL_RGB, GL_UNSIGNED_BYTE,
                        bitmap.pixels);
    }
    glGenerateMipmap(GL_TEXTURE_2D_ARRAY);
}

TextureAtlas::~TextureAtlas() { glDeleteTextures(1, &id); }
