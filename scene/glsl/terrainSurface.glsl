// The height samples of the level-of-detail terrain and the full mesh's rules for its points and
// normals: shared by the level-of-detail vertex stages, which place the grid with them, and the
// fragment stages built for level of detail, which take the full mesh's normal along the borders.
// Not a stage of its own: the embedding step puts it in place of each stage's #include line.

#include "terrainGrid.glsl"
#include "terrainNormalRule.glsl"

uniform usampler2D heights;
uniform float heightOffset;    // the height of sample value 0
uniform float heightPerValue;  // the height of one sample step
// Ground below this lies on it: a sea raised above the level the map was read at; the lowest float
// while there is none.
uniform float lowestHeight;

vec3 surfacePoint(ivec2 sample) {
    float height = heightOffset + float(texelFetch(heights, sample, 0).r) * heightPerValue;
    height = height < lowestHeight ? lowestHeight : height;
    return vec3(float(sample.x) * sampleSpacing.x, height, -(float(sample.y) * sampleSpacing.y));
}

// The neighbours wrap around the map's borders, as the full mesh's normals do.
vec3 neighbourPoint(ivec2 sample) {
    return surfacePoint((sample + mapSize) % mapSize);
}

// The full mesh's normal at a sample.
vec3 surfaceNormal(ivec2 sample) {
    vec3 p = surfacePoint(sample);
    return normalFromNeighbours(
        neighbourPoint(sample + ivec2(0, -1)) - p, neighbourPoint(sample + ivec2(-1, -1)) - p,
        neighbourPoint(sample + ivec2(-1, 0)) - p, neighbourPoint(sample + ivec2(-1, 1)) - p,
        neighbourPoint(sample + ivec2(0, 1)) - p, neighbourPoint(sample + ivec2(1, 1)) - p,
        neighbourPoint(sample + ivec2(1, 0)) - p, neighbourPoint(sample + ivec2(1, -1)) - p);
}
