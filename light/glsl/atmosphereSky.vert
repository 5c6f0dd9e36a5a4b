#version 330

// The sky's full-screen pass: each corner of the screen carries its view ray in the world frame, so
// that the fragments get theirs by interpolation (rays through a plane are linear in screen position).

in vec3 vPosition;

uniform mat4 modelview;
uniform mat4 projection;
uniform float farDepth;  // the far plane's clip-space depth: 1, or 0 where depth is reversed

out vec3 fViewRay;

void main() {
    gl_Position = vec4(vPosition.xy, farDepth, 1.0);
    // The eye-space ray at depth -1 through this corner, undoing the projection's scale and shift.
    vec3 eyeRay = vec3((vPosition.x + projection[2][0]) / projection[0][0],
                       (vPosition.y + projection[2][1]) / projection[1][1], -1.0);
    fViewRay = inverse(mat3(modelview)) * eyeRay;
}
