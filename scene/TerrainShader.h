// The terrain's GLSL program for one shading mode, chosen by the application's terrain mode
// at construction.
#pragma once

#include "gpu/Shader.h"

class TerrainShader : public Shader {
public:
    GLint modelviewLocation = -1;
    GLint projectionLocation = -1;
    GLint materialLocation = -1;
    GLint lightsLocation = -1;
    GLint texLocation = -1;
    GLint tLocation = -1;
    GLint viewerPositionLocation = -1;
    GLint skyDataLocation = -1;
    GLint bloomThresholdLocation = -1;
    GLint normalLocation = -1;
    GLint textureLocation = -1;

    TerrainShader();

    // Animated water for mode 5, static otherwise.
    const char* getVertexSource() override;
    // Full for 5, lighting only for 4, height grey for 3, white otherwise.
    const char* getFragmentSource() override;

    // The texts of a given mode, as the two getters choose them for the current mode.
    static const char* vertexSourceForMode(int mode);
    static const char* fragmentSourceForMode(int mode);
};
