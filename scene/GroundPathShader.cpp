// The measured path's program.
#include "scene/GroundPathShader.h"

#include "ShaderSources.h"

GroundPathShader::GroundPathShader() : Shader(glsl::groundPathVert, glsl::groundPathFrag) {
    modelviewLocation = glGetUniformLocation(program, "modelview");
    projectionLocation = glGetUniformLocation(program, "projection");
    viewportSizeLocation = glGetUniformLocation(program, "viewportSize");
    halfWidthLocation = glGetUniformLocation(program, "halfWidth");
    leastPullLocation = glGetUniformLocation(program, "leastPull");
    colourLocation = glGetUniformLocation(program, "colour");
    endLocation = glGetAttribLocation(program, "vEnd");
    cornerLocation = glGetAttribLocation(program, "vCorner");
}

const char* GroundPathShader::getVertexSource() { return glsl::groundPathVert; }

const char* GroundPathShader::getFragmentSource() { return glsl::groundPathFrag; }
