#version 330

// Terrain vertex stage of mode 5 when streaming: the water's travelling wave of the full
// mesh, on the streamed surface.

#include "terrainStream.glsl"
#include "waterWave.glsl"

uniform mat4 modelview;
uniform mat4 projection;
uniform float t;

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

    vec4 p = vec4(position, 1.0);
    p.y = p.y - waterWaveDepth(position.y, textureCoordinates, t);

    gl_Position = (projection * modelview) * p;
    fWorldPosition = position;
    fCameraPosition = (modelview * p).xyz;
    fNormal = normal;
    fTexture = textureCoordinates;
    fNodeLevel = vNode.w;
}
