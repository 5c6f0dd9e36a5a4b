#version 330

// Terrain vertex stage of mode 5: vertices at the water level move in a travelling wave.

in vec3 vPosition;
in vec3 vNormal;
in vec2 vTexture;

uniform mat4 modelview;
uniform mat4 projection;
uniform float t;

out vec3 fWorldPosition;
out vec3 fCameraPosition;
out vec3 fNormal;
out vec2 fTexture;

void main() {
    // Full amplitude at and below height 0, none from height 0.1 up, so the shore stays put.
    float w = 1.0 - clamp(vPosition.y, 0.0, 0.1) * 10.0;
    vec4 p = vec4(vPosition, 1.0);
    p.y = p.y - w * sin(4.0 * t + vTexture.x * 100.0 + vTexture.y * 200.0) / 64.0;

    gl_Position = (projection * modelview) * p;
    // Texturing and lighting use the undisplaced position; only the fog distance sees the wave.
    fWorldPosition = vPosition;
    fCameraPosition = (modelview * p).xyz;
    fNormal = normalize(vNormal);
    fTexture = vTexture;
}
