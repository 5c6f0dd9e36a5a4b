#version 330

// Sky dome vertex stage.

in vec3 vPosition;
in vec2 vTexture;

uniform mat4 modelview;
uniform mat4 projection;

out vec2 fTexture;

void main() {
    gl_Position = (projection * modelview) * vec4(vPosition, 1.0);
    fTexture = vTexture;
}
