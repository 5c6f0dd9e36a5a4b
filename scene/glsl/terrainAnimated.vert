#version 330

// Terrain vertex stage of mode 5: vertices at the water level move in a travelling wave.

#include "waterWave.glsl"
#include "terrainMeshHeights.glsl"

in vec2 vTexture;

uniform mat4 modelview;
uniform mat4 projection;
uniform float t;

out vec3 fWorldPosition;
out vec3 fCameraPosition;
out vec3 fNormal;
out vec2 fTexture;

void main() {
    vec3 position;
    placeMeshVertex(position, fNormal);
    vec4 p = vec4(position, 1.0);
    p.y = p.y - waterWaveDepth(position.y, vTexture, t);

    gl_Position = (projection * modelview) * p;
    // Texturing and lighting use the undisplaced position; only the fog distance sees the wave.
    fWorldPosition = position;
    fCameraPosition = (modelview * p).xyz;
    fTexture = vTexture;
}
