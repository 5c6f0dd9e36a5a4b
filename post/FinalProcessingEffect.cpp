// The final composition pass and its program: scene plus bloom, tone curve, diagnostic views.
#include "post/FinalProcessingEffect.h"

#include "gpu/TextureUnits.h"
#include "ShaderSources.h"

FinalProcessingShader::FinalProcessingShader() : Shader(vertexSource(), fragmentSource()) {
    texLocation = glGetUniformLocation(program, "tex");
    tex2Location = glGetUniformLocation(program, "tex2");
    tex3Location = glGetUniformLocation(program, "tex3");
    isBloomEnabledLocation = glGetUniformLocation(program, "isBloomEnabled");
    debugModeLocation = glGetUniformLocation(program, "debugMode");
    bloomGainLocation = glGetUniformLocation(program, "bloomGain");
    bloomWindowLocation = glGetUniformLocation(program, "bloomWindow");
}

const char* FinalProcessingShader::vertexSource() { return glsl::fullScreenVert; }

const char* FinalProcessingShader::fragmentSource() { return glsl::finalProcessingFrag; }

const char* FinalProcessingShader::getVertexSource() { return vertexSource(); }

const char* FinalProcessingShader::getFragmentSource() { return fragmentSource(); }

FinalProcessingEffect::FinalProcessingEffect(std::unique_ptr<FinalProcessingShader> shader)
    : FullScreenEffect(std::move(shader)) {}

void FinalProcessingEffect::setUniforms() {
    const FinalProcessingShader* finalShader = static_cast<const FinalProcessingShader*>(shader.get());
    glActiveTexture(GL_TEXTURE0 + SCENE_COLOUR_UNIT);
    glBindTexture(GL_TEXTURE_2D, tex);
    glUniform1i(finalShader->texLocation, SCENE_COLOUR_UNIT);
    glActiveTexture(GL_TEXTURE0 + BLOOM_UNIT);
    glBindTexture(GL_TEXTURE_2D, tex2);
    glUniform1i(finalShader->tex2Location, BLOOM_UNIT);
    glActiveTexture(GL_TEXTURE0 + BRIGHT_PASS_UNIT);
    glBindTexture(GL_TEXTURE_2D, tex3);
    glUniform1i(finalShader->tex3Location, BRIGHT_PASS_UNIT);
    glUniform1i(finalShader->isBloomEnabledLocation, isBloomEnabled ? 1 : 0);
    glUniform1i(finalShader->debugModeLocation, debugMode);
    glUniform1f(finalShader->bloomGainLocation, bloomGain);
    setWindowUniform(finalShader->bloomWindowLocation, bloomWindow);
}
