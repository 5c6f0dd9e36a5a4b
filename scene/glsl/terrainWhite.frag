#version 330

// Terrain fragment stage of modes 1 and 2: plain white.

#include "terrainInterface.glsl"

void main() {
    discardWhereNoData();
    brightColor = vec4(0.0, 0.0, 0.0, 1.0);
    fragColor = vec4(1.0, 1.0, 1.0, 1.0);
}
