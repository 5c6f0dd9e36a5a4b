// Mipmapped sRGB textures made from BMP files or pictures in memory: one 2D texture, or a 2D array
// of equally sized layers.
#pragma once

#include <GL/glew.h>

#include <cstdint>

class Texture {
public:
    GLuint id = 0;
    int width = 0;
    int height = 0;

    // Builds the texture with trilinear and the device's highest anisotropic filtering;
    // ends the process when the file cannot be loaded or has a side beyond the device's limit.
    explicit Texture(const char* path);
    // A picture of width x height RGBA texels of 8 bits each, bottom row first: sRGB colour with
    // linear alpha, its edges clamped rather than repeated. Its sides must be within the device's
    // limit (GL_MAX_TEXTURE_SIZE).
    Texture(int width, int height, const uint8_t* rgba);
    // Deletes the texture: the context that made it must be current.
    ~Texture();
    Texture(const Texture&) = delete;
    Texture& operator=(const Texture&) = delete;
};

class TextureAtlas {
public:
    GLuint id = 0;
    int width = 0;
    int height = 0;
    int layerCount = 0;

    // File k becomes layer k; ends the process on a load failure, a side beyond the device's
    // limit or a size mismatch.
    TextureAtlas(int layerCount, const char* const* paths);
    ~TextureAtlas();
    TextureAtlas(const TextureAtlas&) = delete;
    TextureAtlas& operator=(const TextureAtlas&) = delete;
};
