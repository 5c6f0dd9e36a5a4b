// The separable Gaussian blur pass: nine taps along one axis, spaced by a radius in texels.
#pragma once

#include "gpu/Shader.h"
#include "post/FullScreenEffect.h"

class GaussianBlurShader : public Shader {
public:
    GLint texLocation = -1;
    GLint isHorizontalLocation = -1;
    GLint radiusLocation = -1;
    GLint inputWindowLocation = -1;

    GaussianBlurShader();

    const char* getVertexSource() override;
    const char* getFragmentSource() override;

private:
    // The texts; the constructor hands them to the base, before which no member function may run.
    static const char* vertexSource();
    static const char* fragmentSource();
};

class GaussianBlurEffect : public FullScreenEffect {
public:
    bool isHorizontal = true;
    float radius = 1.0f;
    GLuint tex = 0;
    // Where the input is read at the target's texels, before the taps.
    TextureWindow inputWindow;

    GaussianBlurEffect();

    void setUniforms() override;
};
