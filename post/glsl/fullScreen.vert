#version 330
// Shared vertex stage of the full-screen passes: the quad's corners map to texture coordinates 0 and 1.

in vec3 vPosition;

out vec2 fTexCoords;

void main() {
    gl_Position = vec4(vPosition, 1.0);
    fTexCoords = vPosition.xy / 2.0 + 0.5;
}
