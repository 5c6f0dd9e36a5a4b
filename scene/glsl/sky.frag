#version 330

// Sky dome fragment stage: the sky image, and a bright-pass output for the bloom chain.

in vec2 fTexture;

uniform sampler2D tex;
uniform vec4 skyData;  // uploaded by the sky dome but never read: the sky image alone colours the sky

layout(location = 0) out vec4 fragColor;
layout(location = 1) out vec4 brightColor;

void main() {
    fragColor = vec4(texture(tex, fTexture).rgb, 1.0);
    // A fixed threshold of 1: texture colours never exceed it, so the sky itself never blooms.
    float luminance = dot(fragColor.rgb, vec3(0.2126, 0.7152, 0.0722));
    if (luminance > 1.0) {
        brightColor = vec4(fragColor.rgb, 1.0);
    } else {
        brightColor = vec4(0.0, 0.0, 0.0, 1.0);
    }
}
