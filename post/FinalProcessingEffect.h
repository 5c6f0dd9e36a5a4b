// The last pass of a frame: scene plus bloom, exponential tone curve, and three diagnostic views.
#pragma once

#include "gpu/Shader.h"
#include "post/FullScreenEffect.h"

class FinalProcessingShader : public Shader {
public:
    GLint texLocation = -1;
    GLint tex2Location = -1;
    GLint tex3Location = -1;
    GLint isBloomEnabledLocation = -1;
    GLint debugModeLocation = -1;
    GLint bloomGainLocation = -1;
    GLint bloomWindowLocation = -1;

    FinalProcessingShader();

    const char* getVertexSource() override;
    const char* getFragmentSource() override;

private:
    // The texts; the constructor hands them to the base, before which no member function may run.
    static const char* vertexSource();
    static const char* fragmentSource();
};

class FinalProcessingEffect : public FullScreenEffect {
public:
    static constexpr float DEFAULT_BLOOM_GAIN = 1.0f;

    GLuint tex = 0;
    GLuint tex2 = 0;
    GLuint tex3 = 0;
    bool isBloomEnabled = true;
    int debugMode = 0;
    float bloomGain = DEFAULT_BLOOM_GAIN;
    // Where the bloom (tex2) is read at the output's pixels.
    TextureWindow bloomWindow;

    explicit FinalProcessingEffect(std::unique_ptr<FinalProcessingShader> shader);

    void setUniforms() override;
};
