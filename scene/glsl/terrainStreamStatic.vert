#version 330

// Terrain vertex stage of modes 1 to 4 when streaming: the surface as it lies.

#include "terrainStream.glsl"

uniform mat4 modelview;
uniform mat4 projection;

out vec3 fWorldPosition;
out vec3 fCameraPosition;
out vec3 fNormal;
out vec2 fTexture;
flat out float fNodeLevel;

void main() {
    vec3 position;
    vec3 normal;
    vec2 textureCoordinates;
    placeStreamVertex(position, normal, textureCoordinates);
    gl_Position = (projection * modelview) * vec4(position, 1.0);
    fWorldPosition = position;
    fCameraPosition = (modelview * vec4(position, 1.0)).xyz;
    fNormal = normal;
    fTexture = textureCoordinates;
    fNodeLevel = vNode.w;
}
