// The water's travelling wave, which the full mesh's and the level-of-detail surface's animated
// vertex stages apply alike. Not a stage of its own: the embedding step puts it in place of each
// stage's #include line.

#include "terrainConstants.glsl"

uniform bool hasSea;  // whether height 0 is the sea's surface; without a sea nothing waves

// How far the wave lowers the surface at a point of the given height and texture coordinates at
// time t: full amplitude at and below height 0, none from height 0.1 up, so the shore stays put.
float waterWaveDepth(float height, vec2 textureCoordinates, float t) {
    if (!hasSea) return 0.0;
    float w = 1.0 - clamp(height, 0.0, 0.1) * 10.0;
    return w * sin(4.0 * t + textureCoordinates.x * 100.0 + textureCoordinates.y * 200.0) * WATER_WAVE_AMPLITUDE;
}
