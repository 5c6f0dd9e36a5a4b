#version 330

// Terrain vertex stage of mode 5 with level of detail: the water's travelling wave of the full
// mesh, on the level-of-detail surface.

#include "terrainLod.glsl"

uniform mat4 modelview;
uniform mat4 projection;
uniform float t;

out vec3 fWorldPosition;
out vec3 fCameraPosition;
out vec3 fNormal;
out vec2 fTexture;

void main() {
    vec3 position;
    vec3 normal;
    vec2 textureCoordinates;
    placeLodVertex(position, normal, textureCoordinates);

    float w = 1.0 - clamp(position.y, 0.0, 0.1) * 10.0;
    vec4 p = vec4(position, 1.0);
    p.y = p.y - w * sin(4.0 * t + textureCoordinates.x * 100.0 + textureCoordinates.y * 200.0) / 64.0;

    gl_Position = (projection * modelview) * p;
    fWorldPosition = position;
    fCameraPosition = (modelview * p).xyz;
    fNormal = normal;
    fTexture = textureCoordinates;
}
