#version 330

// Terrain vertex stage when streaming: the surface as it lies in modes 1 to 4, and in mode 5
// (ANIMATED defined) with the water's travelling wave of the full mesh, on the streamed surface.

#include "terrainStream.glsl"
#ifdef ANIMATED
#include "waterWave.glsl"
#endif

uniform mat4 modelview;
uniform mat4 projection;
#ifdef ANIMATED
uniform float t;
#endif

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
#ifdef ANIMATED
    p.y = p.y - waterWaveDepth(position.y, textureCoordinates, t);
#endif

    gl_Position = (projection * modelview) * p;
    fWorldPosition = position;
    fCameraPosition = (modelview * p).xyz;
    fNormal = normal;
    fTexture = textureCoordinates;
    fNodeLevel = vNode.w;
}
