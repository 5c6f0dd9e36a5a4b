// The measured path's program: the draped line and its markers in a flat colour, pulled towards the
// eye so that the ground they lie on never hides them.
#pragma once

#include "gpu/Shader.h"

class GroundPathShader : public Shader {
public:
    GLint modelviewLocation = -1;
    GLint projectionLocation = -1;
    GLint viewportSizeLocation = -1;
    GLint halfWidthLocation = -1;
    GLint leastPullLocation = -1;
    GLint colourLocation = -1;
    GLint endLocation = -1;
    GLint cornerLocation = -1;

    GroundPathShader();

    const char* getVertexSource() override;
    const char* getFragmentSource() override;
};
