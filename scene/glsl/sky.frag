#version 330

// Sky dome fragment stage: the sky image, and a bright-pass output for the bloom chain.

in vec2 fTexture;

uniform sampler2D tex;
uniform vec4 skyData;

layout(location = 0) out vec4 fragColor;
layout(location = 1) out vec4 brightColor;

void main() {
    fragColor = vec4(skyData.rgb, 1.0);
    fragColor.rgb = texture(tex, fTexture).rgb;
    // A fixed threshold of 1: texture colours never exceed it, so the sky itself never blooms.
    float luminance = dot(fragColor.rgb, vec3(0.2126, 0.7152, 0.0722));
    if (luminance > 1.0) {
        brightColor = vec4(fragColor.rgb, 1.0);
    } else {
        brightColor = vec4(0.0, 0.0, 0.0, 1.0);
    }
}
