#version 330

// Terrain vertex stage of modes 1 to 4: the mesh as it lies.

#include "terrainMeshHeights.glsl"

in vec2 vTexture;

uniform mat4 modelview;
uniform mat4 projection;

out vec3 fWorldPosition;
out vec3 fCameraPosition;
out vec3 fNormal;
out vec2 fTexture;

void main() {
    vec3 position;
    placeMeshVertex(position, fNormal);
    gl_Position = (projection * modelview) * vec4(position, 1.0);
    fWorldPosition = position;
    fCameraPosition = (modelview * vec4(position, 1.0)).xyz;
    fTexture = vTexture;
}
