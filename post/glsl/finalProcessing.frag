#version 330
// Final composition: scene plus scaled bloom through an exponential tone curve, or one of the
// untone-mapped diagnostic views of the bloom chain.

in vec2 fTexCoords;

uniform sampler2D tex;
uniform sampler2D tex2;
uniform sampler2D tex3;
uniform bool isBloomEnabled;
uniform int debugMode;
uniform float bloomGain;
// Where the bloom (tex2) is read at this pixel: scales in xy, offsets in zw; see gaussianBlur.frag.
uniform vec4 bloomWindow;

layout(location = 0) out vec4 fragColor;

const float exposure = 4.0;

void main() {
    vec3 colour = texture(tex, fTexCoords).rgb;
    vec3 bloom = texture(tex2, fTexCoords * bloomWindow.xy + bloomWindow.zw).rgb * bloomGain;
    if (isBloomEnabled && debugMode == 0) {
        colour += bloom;
    }
    colour = 1.0 - exp(-colour * exposure);
    fragColor = vec4(colour, 1.0);

    if (debugMode == 2) {
        fragColor.rgb = texture(tex3, fTexCoords).rgb;
    }
    if (debugMode == 3) {
        fragColor.rgb = bloom;
    }
}
