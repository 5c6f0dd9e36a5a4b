// The terrain programs: one vertex and one fragment text per shading mode, fixed when the
// program is built.
#include "scene/TerrainShader.h"

#include "ShaderSources.h"
#include "app/Application.h"

const char* TerrainShader::vertexSourceForMode(int mode) {
    return mode == 5 ? glsl::terrainAnimatedVert : glsl::terrainStaticVert;
}

const char* TerrainShader::fragmentSourceForMode(int mode) {
    switch (mode) {
    case 5: return glsl::terrainFullFrag;
    case 4: return glsl::terrainLightingFrag;
    case 3: return glsl::terrainHeightFrag;
    default: return glsl::terrainWhiteFrag;
    }
}

// The texts are chosen by the static selectors rather than the getters: the object is not yet
// a TerrainShader while its base is being built.
TerrainShader::TerrainShader()
    : Shader(vertexSourceForMode(Application::instance().terrainMode),
             fragmentSourceForMode(Application::instance().terrainMode)) {
    modelviewLocation = glGetUniformLocation(program, "modelview");
    projectionLocation = glGetUniformLocation(program, "projection");
    materialLocation = glGetUniformLocation(program, "material");
    lightsLocation = glGetUniformLocation(program, "lights");
    texLocation = glGetUniformLocation(program, "tex");
    tLocation = glGetUniformLocation(program, "t");
    viewerPositionLocation = glGetUniformLocation(program, "viewerPosition");
    skyDataLocation = glGetUniformLocation(program, "skyData");
    bloomThresholdLocation = glGetUniformLocation(program, "bloomThreshold");
    normalLocation = glGetAttribLocation(program, "vNormal");
    textureLocation = glGetAttribLocation(program, "vTexture");
}

const char* TerrainShader::getVertexSource() { return vertexSourceForMode(Application::instance().terrainMode); }

const char* TerrainShader::getFragmentSource() { return fragmentSourceForMode(Application::instance().terrainMode); }
