// The terrain programs: one vertex and one fragment text per shading mode and surface, fixed when
// the program is built.
#include "scene/TerrainShader.h"

#include <map>
#include <string>
#include <utility>

#include "ShaderSources.h"
#include "app/Application.h"

namespace {

// The text with `name` defined. One text per text and name, kept for good: the programs' getters
// hand it out for as long as they live.
const char* sourceDefining(const char* source, const char* name) {
    static std::map<std::pair<const char*, std::string>, std::string> definedTexts;
    std::string& text = definedTexts[{source, name}];
    if (text.empty()) {
        text = source;
        // Right after the "#version 330" line, which must stay first.
        text.insert(text.find('\n') + 1, std::string("#define ") + name + "\n");
    }
    return text.c_str();
}

// A grid surface's vertex text: its water moves in mode 5 only.
const char* gridVertexSource(int mode, const char* source) {
    return mode == 5 ? sourceDefining(source, "ANIMATED") : source;
}

}  // namespace

const char* TerrainShader::vertexSourceForMode(int mode) {
    return mode == 5 ? glsl::terrainAnimatedVert : glsl::terrainStaticVert;
}

const char* TerrainShader::fragmentSourceForMode(int mode) {
    // The lit modes light by the sun when one is placed: it is placed for the whole run or never.
    const bool sunlit = Application::instance().terrainOptions.isSunPlaced();
    switch (mode) {
    case 5: return sunlit ? sourceDefining(glsl::terrainFullFrag, "SUNLIGHT") : glsl::terrainFullFrag;
    case 4: return sunlit ? sourceDefining(glsl::terrainLightingFrag, "SUNLIGHT") : glsl::terrainLightingFrag;
    case 3: return glsl::terrainHeightFrag;
    default: return glsl::terrainWhiteFrag;
    }
}

// The texts are chosen by the static selectors rather than the getters: the object is not yet
// a TerrainShader while its base is being built.
TerrainShader::TerrainShader()
    : TerrainShader(vertexSourceForMode(Application::instance().terrainMode),
                    fragmentSourceForMode(Application::instance().terrainMode)) {}

TerrainShader::TerrainShader(const char* vertexSource, const char* fragmentSource)
    : Shader(vertexSource, fragmentSource) {
    modelviewLocation = glGetUniformLocation(program, "modelview");
    projectionLocation = glGetUniformLocation(program, "projection");
    materialLocation = glGetUniformLocation(program, "material");
    lightsLocation = glGetUniformLocation(program, "lights");
    texLocation = glGetUniformLocation(program, "tex");
    tLocation = glGetUniformLocation(program, "t");
    viewerPositionLocation = glGetUniformLocation(program, "viewerPosition");
    skyDataLocation = glGetUniformLocation(program, "skyData");
    bloomThresholdLocation = glGetUniformLocation(program, "bloomThreshold");
    metresPerHeightLocation = glGetUniformLocation(program, "metresPerHeight");
    snowLineLocation = glGetUniformLocation(program, "snowLine");
    hasSeaLocation = glGetUniformLocation(program, "hasSea");
    greyRangeLocation = glGetUniformLocation(program, "greyRange");
    drapeLocation = glGetUniformLocation(program, "drape");
    hasDrapeLocation = glGetUniformLocation(program, "hasDrape");
    mapSizeLocation = glGetUniformLocation(program, "mapSize");
    sampleSpacingLocation = glGetUniformLocation(program, "sampleSpacing");
    lowestHeightLocation = glGetUniformLocation(program, "lowestHeight");
    sunDirectionLocation = glGetUniformLocation(program, "sunDirection");
    hasShadowsLocation = glGetUniformLocation(program, "hasShadows");
    sunSharesLocation = glGetUniformLocation(program, "sunShares");
    skyVisibilityLocation = glGetUniformLocation(program, "skyVisibility");
    sunLayerCountLocation = glGetUniformLocation(program, "sunLayerCount");
    sunLayerPlacesLocation = glGetUniformLocation(program, "sunLayerPlaces");
    sunLayerReachLocation = glGetUniformLocation(program, "sunLayerReach");
    skyPlaceLocation = glGetUniformLocation(program, "skyPlace");
    metresPerUnitLocation = glGetUniformLocation(program, "metresPerUnit");
    atmosphereLocations = AtmosphereLocations(program);
    heightScaleLocation = glGetUniformLocation(program, "heightScale");
    heightShiftLocation = glGetUniformLocation(program, "heightShift");
    normalLocation = glGetAttribLocation(program, "vNormal");
    textureLocation = glGetAttribLocation(program, "vTexture");
}

const char* TerrainShader::getVertexSource() { return vertexSourceForMode(Application::instance().terrainMode); }

const char* TerrainShader::getFragmentSource() { return fragmentSourceForMode(Application::instance().terrainMode); }

const char* TerrainLodShader::vertexSourceForMode(int mode) {
    return gridVertexSource(mode, glsl::terrainLodVert);
}

const char* TerrainLodShader::fragmentSourceForMode(int mode) { return sourceDefining(TerrainShader::fragmentSourceForMode(mode), "LEVEL_OF_DETAIL"); }

TerrainGridShader::TerrainGridShader(int mode, const char* vertexSource, const char* fragmentSource)
    : TerrainShader(vertexSource, fragmentSource),
      mode(mode),
      vertexSource(vertexSource),
      fragmentSource(fragmentSource) {
    heightOffsetLocation = glGetUniformLocation(program, "heightOffset");
    heightPerValueLocation = glGetUniformLocation(program, "heightPerValue");
    morphRangesLocation = glGetUniformLocation(program, "morphRanges");
    hasVoidsLocation = glGetUniformLocation(program, "hasVoids");
}

TerrainLodShader::TerrainLodShader(int mode)
    : TerrainGridShader(mode, vertexSourceForMode(mode), fragmentSourceForMode(mode)) {
    heightsLocation = glGetUniformLocation(program, "heights");
    voidCellsLocation = glGetUniformLocation(program, "voidCells");
}

const char* TerrainStreamShader::vertexSourceForMode(int mode) {
    return gridVertexSource(mode, glsl::terrainStreamVert);
}

const char* TerrainStreamShader::fragmentSourceForMode(int mode) { return sourceDefining(TerrainShader::fragmentSourceForMode(mode), "STREAMING"); }

TerrainStreamShader::TerrainStreamShader(int mode)
    : TerrainGridShader(mode, vertexSourceForMode(mode), fragmentSourceForMode(mode)) {
    tileCacheLocation = glGetUniformLocation(program, "tileCache");
    pageTableLocation = glGetUniformLocation(program, "pageTable");
    layerFadesLocation = glGetUniformLocation(program, "layerFades");
    tileQuadsLocation = glGetUniformLocation(program, "tileQuads");
    coarsestTileLevelLocation = glGetUniformLocation(program, "coarsestTileLevel");
    tileLevelSamplesLocation = glGetUniformLocation(program, "tileLevelSamples");
    tileLevelTilesLocation = glGetUniformLocation(program, "tileLevelTiles");
}
