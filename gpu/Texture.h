// Mipmapped sRGB textures made from BMP files: one 2D texture, or a 2D array of equally sized layers.
#pragma once

#include <GL/glew.h>

class Texture {
public:
    GLuint id = 0;
    int width = 0;
    int height = 0;

    // Builds the texture with trilinear and the device's highest anisotropic filtering;
    // ends the process when the file cannot be loaded or has a side beyond the device's limit.
    explicit Texture(const char* path);
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
};
