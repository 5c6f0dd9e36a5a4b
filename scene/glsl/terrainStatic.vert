#version 330

// Terrain vertex stage of modes 1 to 4: the mesh as it lies.

in vec3 vPosition;
in vec3 vNormal;
in vec2 vTexture;

uniform mat4 modelview;
uniform mat4 projection;

out vec3 fWorldPosition;
out vec3 fCameraPosition;
out vec3 fNormal;
out vec2 fTexture;

void main() {
    gl_Position = (projection * modelview) * vec4(vPosition, 1.0);
    fWorldPosition = vPosition;
    fCameraPosition = (modelview * vec4(vPosition, 1.0)).xyz;
    fNormal = normalize(vNormal);
    fTexture = vTexture;
}
