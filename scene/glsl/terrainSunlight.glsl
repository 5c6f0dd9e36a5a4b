// What the sunlit terrain stages share: the sun's direction, the shadows the terrain casts on
// itself and the share of the sky each point sees, from the horizons computed per sample of the
// map (the shares, not the horizons, are interpolated between samples), and the atmosphere that
// colours the sun's and the sky's light. Not a stage of its own: the
// embedding step puts it in place of the #include line, which the interface reaches only with
// SUNLIGHT defined.

#include "../../light/glsl/atmosphere.glsl"

// Layers of the sun's shares: the first over the whole map, the rest windows of finer grids
// around the camera, each inside the one before.
const int SUN_LAYERS = 4;

uniform bool hasShadows;             // whether the shares of the sun and of the sky are bound
uniform sampler2DArray sunShares;    // per sample: the share of the sun's disc over its horizon
uniform int sunLayerCount;
uniform vec3 sunLayerPlaces[SUN_LAYERS];  // the map sample of a layer's first texel, and the samples between texels
uniform vec4 sunLayerReach[SUN_LAYERS];   // the map samples it reaches between: first column and row, last
uniform sampler2D skyVisibility;     // per sample: the share of the sky's light that reaches it
uniform vec3 skyPlace;               // as a layer's place
uniform float metresPerUnit;         // ground metres per world unit, for the depth of the air

// Where a map point lies on a texture of the given size placed as a layer is.
vec2 placedCoordinates(vec2 point, vec3 place, vec2 size) {
    return ((point - place.xy) / place.z + 0.5) / size;
}

float sunShareOnLayer(vec2 point, int layer) {
    vec2 size = vec2(textureSize(sunShares, 0).xy);
    return texture(sunShares, vec3(placedCoordinates(point, sunLayerPlaces[layer], size), float(layer))).r;
}

// How much of the sun's disc shows over the horizon here: 0 in shadow, 1 in full sun, and in
// between along the shadow's soft edge, as the disc sets behind the horizon. The finest layer
// that reaches the point gives it: each fades into the one around it within its own texels.
float sunSeen() {
    if (!hasShadows) return 1.0;
    vec2 point = mapPoint(fWorldPosition);
    int finest = 0;
    for (int layer = 1; layer < sunLayerCount; ++layer) {
        vec4 reach = sunLayerReach[layer];
        if (all(greaterThan(point, reach.xy)) && all(lessThan(point, reach.zw))) finest = layer;
    }
    return sunShareOnLayer(point, finest);
}

// The share of the sky's light that the hills around leave to this point.
float skySeen() {
    if (!hasShadows) return 1.0;
    vec2 size = vec2(textureSize(skyVisibility, 0));
    return texture(skyVisibility, placedCoordinates(mapPoint(fWorldPosition), skyPlace, size)).r;
}

// Metres above the sea of a point of the world, for the air above it.
float altitudeInMetres(vec3 worldPosition) {
    return max(worldPosition.y * (metresPerHeight > 0.0 ? metresPerHeight : metresPerUnit), 0.0);
}
