// What the sunlit terrain stages share: the sun's direction, the shadows the terrain casts on
// itself and the share of the sky each point sees, from the horizons computed per sample of the
// map (the shares, not the horizons, are interpolated between samples), and the atmosphere that
// colours the sun's and the sky's light. Not a stage of its own: the
// embedding step puts it in place of the #include line, which the interface reaches only with
// SUNLIGHT defined.

#include "../../light/glsl/atmosphere.glsl"

uniform bool hasShadows;          // whether the shares of the sun and of the sky are bound
uniform sampler2D sunShares;      // per sample: the share of the sun's disc over its horizon
uniform sampler2D skyVisibility;  // per sample: the share of the sky's light that reaches it
uniform float sunStep;            // map samples between two texels of the sun's shares
uniform float skyStep;            // and of the sky's
uniform float metresPerUnit;      // ground metres per world unit, for the depth of the air

// Where this point lies on a texture with a texel every `step` samples of the map.
vec2 gridCoordinates(sampler2D grid, float step) {
    return (mapPoint(fWorldPosition) / step + 0.5) / vec2(textureSize(grid, 0));
}

// How much of the sun's disc shows over the horizon here: 0 in shadow, 1 in full sun, and in
// between along the shadow's soft edge, as the disc sets behind the horizon.
float sunSeen() {
    return hasShadows ? texture(sunShares, gridCoordinates(sunShares, sunStep)).r : 1.0;
}

// The share of the sky's light that the hills around leave to this point.
float skySeen() {
    return hasShadows ? texture(skyVisibility, gridCoordinates(skyVisibility, skyStep)).r : 1.0;
}

// Metres above the sea of a point of the world, for the air above it.
float altitudeInMetres(vec3 worldPosition) {
    return max(worldPosition.y * (metresPerHeight > 0.0 ? metresPerHeight : metresPerUnit), 0.0);
}
