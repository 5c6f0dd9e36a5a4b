#version 330
// One axis of the separable Gaussian blur: nine taps spaced radius texels of the input apart.

in vec2 fTexCoords;

uniform sampler2D tex;
uniform bool isHorizontal;
uniform float radius;
// Where the input is read at this target's texels: scales in xy, offsets in zw. A part of a picture
// drawn alone reads its scene on the whole picture's grid of blur texels.
uniform vec4 inputWindow;

layout(location = 0) out vec4 fragColor;

const float weights[5] = float[](0.227027, 0.1945946, 0.1216216, 0.054054, 0.016216);

void main() {
    vec2 at = fTexCoords * inputWindow.xy + inputWindow.zw;
    vec3 colour = texture(tex, at).rgb * weights[0];

    vec2 offset = vec2(radius, radius);
    if (isHorizontal) {
        offset.y = 0.0;
    } else {
        offset.x = 0.0;
    }
    // The radius counts texels of the input, which may differ in size from the target.
    offset /= vec2(textureSize(tex, 0));

    for (int i = 1; i < 5; ++i) {
        colour += texture(tex, at + offset * float(i)).rgb * weights[i];
        colour += texture(tex, at - offset * float(i)).rgb * weights[i];
    }
    fragColor = vec4(colour, 1.0);
}
