// The terrain's GLSL programs: the full mesh's for one shading mode, chosen by the application's
// terrain mode at construction, and those of the level-of-detail and streamed surfaces per mode.
#pragma once

#include "gpu/Shader.h"
#include "light/Atmosphere.h"

class TerrainShader : public Shader {
public:
    GLint modelviewLocation = -1;
    GLint projectionLocation = -1;
    GLint materialLocation = -1;
    GLint lightsLocation = -1;
    GLint texLocation = -1;
    GLint tLocation = -1;
    GLint viewerPositionLocation = -1;
    GLint skyDataLocation = -1;
    GLint bloomThresholdLocation = -1;
    GLint metresPerHeightLocation = -1;
    GLint snowLineLocation = -1;
    GLint hasSeaLocation = -1;
    GLint greyRangeLocation = -1;
    GLint drapeLocation = -1;
    GLint hasDrapeLocation = -1;
    GLint mapSizeLocation = -1;
    GLint sampleSpacingLocation = -1;
    GLint lowestHeightLocation = -1;
    // The sunlit programs' alone (-1 in the others): the sun and the shares of it and of the sky seen.
    GLint sunDirectionLocation = -1;
    GLint hasShadowsLocation = -1;
    GLint sunSharesLocation = -1;
    GLint skyVisibilityLocation = -1;
    GLint sunLayerCountLocation = -1;
    GLint sunLayerPlacesLocation = -1;
    GLint sunLayerReachLocation = -1;
    GLint skyPlaceLocation = -1;
    GLint metresPerUnitLocation = -1;
    AtmosphereLocations atmosphereLocations;
    // The full mesh's alone: how its built heights are scaled and shifted to where they lie now.
    GLint heightScaleLocation = -1;
    GLint heightShiftLocation = -1;
    GLint normalLocation = -1;
    GLint textureLocation = -1;

    TerrainShader();

    // Animated water for mode 5, static otherwise.
    const char* getVertexSource() override;
    // Full for 5, lighting only for 4, height grey for 3, white otherwise.
    const char* getFragmentSource() override;

    // The texts of a given mode, as the two getters choose them for the current mode.
    static const char* vertexSourceForMode(int mode);
    static const char* fragmentSourceForMode(int mode);

protected:
    // Builds the texts given and looks up the uniforms that every terrain program shares.
    TerrainShader(const char* vertexSource, const char* fragmentSource);
};

// A terrain program of one shading mode that places a shared grid of quads on heights, as the
// level-of-detail and streamed surfaces draw: the uniforms both have.
class TerrainGridShader : public TerrainShader {
public:
    GLint heightOffsetLocation = -1;
    GLint heightPerValueLocation = -1;
    GLint morphRangesLocation = -1;
    GLint hasVoidsLocation = -1;
    const int mode;

    const char* getVertexSource() override { return vertexSource; }
    const char* getFragmentSource() override { return fragmentSource; }

protected:
    TerrainGridShader(int mode, const char* vertexSource, const char* fragmentSource);

private:
    const char* vertexSource;
    const char* fragmentSource;
};

// A terrain program of one shading mode for the level-of-detail surface: the mode's fragment
// stage, built with LEVEL_OF_DETAIL defined, behind a vertex stage that places the shared grid on
// the height samples.
class TerrainLodShader : public TerrainGridShader {
public:
    GLint heightsLocation = -1;
    GLint voidCellsLocation = -1;

    explicit TerrainLodShader(int mode);

    static const char* vertexSourceForMode(int mode);
    static const char* fragmentSourceForMode(int mode);
};

// A terrain program of one shading mode for the streamed surface: the mode's fragment stage, built
// with STREAMING defined, behind a vertex stage that places the shared grid on the streamed heights.
class TerrainStreamShader : public TerrainGridShader {
public:
    GLint tileCacheLocation = -1;
    GLint pageTableLocation = -1;
    GLint layerFadesLocation = -1;
    GLint tileQuadsLocation = -1;
    GLint coarsestTileLevelLocation = -1;
    GLint tileLevelSamplesLocation = -1;
    GLint tileLevelTilesLocation = -1;

    explicit TerrainStreamShader(int mode);

    static const char* vertexSourceForMode(int mode);
    static const char* fragmentSourceForMode(int mode);
};
