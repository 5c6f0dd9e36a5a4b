#version 330

// Terrain fragment stage of mode 3: height as grey over greyRange (for image maps 0 to 20, white
// at the default height scale's top).

#include "terrainInterface.glsl"

void main() {
    discardWhereNoData();
    brightColor = vec4(0.0, 0.0, 0.0, 1.0);
    float grey = (fWorldPosition.y - greyRange.x) / (greyRange.y - greyRange.x);
    fragColor = vec4(grey, grey, grey, 1.0);
}
