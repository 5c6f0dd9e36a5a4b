// The sky dome's program.
#include "scene/SkyShader.h"

#include "ShaderSources.h"

SkyShader::SkyShader() : Shader(glsl::skyVert, glsl::skyFrag) {
    modelviewLocation = glGetUniformLocation(program, "modelview");
    projectionLocation = glGetUniformLocation(program, "projection");
    texLocation = glGetUniformLocation(program, "tex");
    textureLocation = glGetAttribLocation(program, "vTexture");
    skyDataLocation = glGetUniformLocation(program, "skyData");
}

const char* SkyShader::getVertexSource() { return glsl::skyVert; }

const char* SkyShader::getFragmentSource() { return glsl::skyFrag; }
