// The sky dome's GLSL program: textured dome colour plus its bright-pass output.
#pragma once

#include "gpu/Shader.h"

class SkyShader : public Shader {
public:
    GLint modelviewLocation = -1;
    GLint projectionLocation = -1;
    GLint texLocation = -1;
    GLint skyDataLocation = -1;
    GLint textureLocation = -1;

    SkyShader();

    const char* getVertexSource() override;
    const char* getFragmentSource() override;
};
