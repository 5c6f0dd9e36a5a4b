// The separable Gaussian blur pass and its program.
#include "post/GaussianBlurEffect.h"

#include "gpu/TextureUnits.h"
#include "ShaderSources.h"

GaussianBlurShader::GaussianBlurShader() : Shader(vertexSource(), fragmentSource()) {
    texLocation = glGetUniformLocation(program, "tex");
    isHorizontalLocation = glGetUniformLocation(program, "isHorizontal");
    radiusLocation = glGetUniformLocation(program, "radius");
    inputWindowLocation = glGetUniformLocation(program, "inputWindow");
}

const char* GaussianBlurShader::vertexSource() { return glsl::fullScreenVert; }

const char* GaussianBlurShader::fragmentSource() { return glsl::gaussianBlurFrag; }

const char* GaussianBlurShader::getVertexSource() { return vertexSource(); }

const char* GaussianBlurShader::getFragmentSource() { return fragmentSource(); }

GaussianBlurEffect::GaussianBlurEffect() : FullScreenEffect(std::make_unique<GaussianBlurShader>()) {}

void GaussianBlurEffect::setUniforms() {
    const GaussianBlurShader* blurShader = static_cast<const GaussianBlurShader*>(shader.get());
    glUniform1i(blurShader->isHorizontalLocation, isHorizontal ? 1 : 0);
    glUniform1f(blurShader->radiusLocation, radius);
    setWindowUniform(blurShader->inputWindowLocation, inputWindow);
    glActiveTexture(GL_TEXTURE0 + BLUR_INPUT_UNIT);
    glBindTexture(GL_TEXTURE_2D, tex);
    glUniform1i(blurShader->texLocation, BLUR_INPUT_UNIT);
}
