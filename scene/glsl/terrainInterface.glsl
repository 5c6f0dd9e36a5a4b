// What the four terrain fragment stages share: the vertex stage's outputs, the uniforms that the
// terrain drawing sets in every mode, the two scene outputs, the normal to shade with and the
// cutting of holes where the map has no data. Not a stage of its own: the embedding step puts it
// in place of each stage's #include line. A stage that reads only some of the uniforms declares
// them all the same; the compiler drops the unused ones. The level-of-detail programs build the
// same stages with LEVEL_OF_DETAIL defined, the streamed ones with STREAMING defined; the lit modes'
// stages under a placed sun have SUNLIGHT defined as well.

#include "terrainGrid.glsl"

#define NUM_LIGHTS 1

in vec3 fWorldPosition;
in vec3 fCameraPosition;
in vec3 fNormal;
in vec2 fTexture;

uniform sampler2DArray tex;       // layers in the order of the terrain's material list
uniform mat3 material;            // columns: ambient, diffuse, specular
uniform mat3 lights[NUM_LIGHTS];  // columns: colour, position
uniform float t;
uniform vec3 viewerPosition;
uniform vec4 skyData;             // rgb: fog colour, w: fog end distance
uniform float bloomThreshold;
// Metres of elevation per unit of height, for elevation maps; 0 for image maps, whose materials
// follow the height itself.
uniform float metresPerHeight;
uniform float snowLine;           // metres where snow lies, for elevation maps
uniform bool hasSea;              // whether height 0 is the sea's surface
uniform vec2 greyRange;           // the heights that the grey of mode 3 shows as black and white
// A picture draped over the whole map, bottom row first, alpha its coverage.
uniform sampler2D drape;
uniform bool hasDrape;

layout(location = 0) out vec4 fragColor;
// The scene target always has a bright-pass output; left unwritten it would hold undefined
// values that the bloom would spread over the picture.
layout(location = 1) out vec4 brightColor;

#ifdef SUNLIGHT
#include "terrainSunlight.glsl"
#endif

#ifdef LEVEL_OF_DETAIL
#include "terrainLodNormal.glsl"
#include "terrainLodHoles.glsl"
#else
// The vertex normal as it arrives, not renormalised: the full mesh's, or the streamed surface's,
// which follows the full mesh's rule at each level's spacing.
vec3 shadingNormal() {
    return fNormal;
}

#ifdef STREAMING
#include "terrainStreamHoles.glsl"
#else
// The full mesh's strip leaves out the cells without data itself.
void discardWhereNoData() {}
#endif
#endif
