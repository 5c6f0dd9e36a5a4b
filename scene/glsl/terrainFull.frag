#version 330

// Terrain fragment stage of mode 5: materials blended by height (or a draped picture), slope and
// animated water, Blinn-Phong lighting, the bright-pass output and distance fog towards the sky
// colour; under a placed sun, its light and the sky's, shadows and the air's colour instead.

#include "terrainInterface.glsl"
#include "terrainMaterialBand.glsl"

// A normal-map texel: red, blue, green hold x, y, z, stored with the sRGB curve undone by the
// sampler, so the curve is put back before mapping to [-1, 1].
vec3 decodeWaterNormal(vec4 texel) {
    return normalize(pow(texel.rbg, vec3(1.0 / 2.2)) * 2.0 - 1.0);
}

void main() {
    discardWhereNoData();
    vec3 normal = shadingNormal();
    float y = materialBand(fWorldPosition.y);
    float slope = clamp((1.0 - normal.y) * 1.5, 0.0, 1.0);

    // The bands' blend factors, from the top: snow over the mountain grass, the mountain over the
    // lowland, the lowland over the shore's pebbles, land over water, and the steep rock below
    // the peaks over all of them.
    float snowShare = clamp((y - 10.0 - slope * 4.0) / 5.0, 0.0, 1.0);
    float mountainShare = clamp((y - 5.0 - slope * 2.0) / 5.0, 0.0, 1.0);
    float lowlandShare = clamp((y - 0.5) / 2.0, 0.0, 1.0);
    float landShare = clamp(y / 0.5, 0.0, 1.0);
    float cliffShare = slope * (1.0 - clamp((y - 10.0) / 10.0, 0.0, 1.0));
    // Which layers have a share.
    bool lowlandSeen = landShare > 0.0 && lowlandShare > 0.0;
    bool mountainSeen = lowlandSeen && mountainShare > 0.0;
    bool snowSeen = mountainSeen && snowShare > 0.0;
    bool waterSeen = landShare < 1.0;

    // A renderer that runs fragments in step, as a CPU one does, pays for a branch's samples
    // whether a fragment takes it or not, so a sample is saved only by not issuing it. No two
    // layers of a pair below ever have a share at one point, so one sample serves each pair: dry
    // grass or water, rock or the second ripples, frozen ground or the first ripples, snow or
    // pebbles. A quad's mipmap level follows the coordinates of its fragments, and only where
    // water is seen do they move with the time: the water's partners are the mountain's layers,
    // which never lie in a quad beside the water, so that the land of a still scene is the same in
    // every frame.
    vec2 coordinates128 = fTexture * 128.0;
    vec3 dryGrassOrWater = texture(tex, waterSeen ? vec3(fTexture * 64.0 + t / 50.0, 0.0)
                                                  : vec3(coordinates128, 7.0)).rgb;
    vec3 rockOrRipples = texture(tex, waterSeen ? vec3(fTexture * 64.0 - vec2(t / 70.0, -t / 40.0), 8.0)
                                                : vec3(coordinates128, 2.0)).rgb;
    vec3 snowOrPebbles = texture(tex, vec3(coordinates128, snowSeen ? 6.0 : 4.0)).rgb;

    // Two normal-map samples drifting at different speeds and scales keep the water from tiling
    // visibly. Grass, which lies beside the water, has a sample of its own.
    vec2 coordinates256 = fTexture * 256.0;
    vec3 frozenOrRipples = texture(tex, waterSeen ? vec3(coordinates256 + t / (50.0 + sin(t / 2.0) * 10.0), 8.0)
                                                  : vec3(coordinates256, 5.0)).rgb;
    vec3 grass = texture(tex, vec3(coordinates256, 1.0)).rgb;

    // The alpha channel carries each material's specular strength. A layer whose sample holds
    // the other of its pair has no share, which leaves the sample out.
    vec4 waterColor = vec4(dryGrassOrWater, 1.0);
    vec4 grassColor = vec4(grass, 0.05);
    vec4 grassDryColor = vec4(dryGrassOrWater, 0.0);
    vec4 rockColor = vec4(rockOrRipples, 0.1);
    vec4 rock2Color = vec4(texture(tex, vec3(coordinates128, 3.0)).rgb, 0.1);
    vec4 pebbleColor = vec4(snowOrPebbles, 0.4);
    vec4 freezeColor = vec4(frozenOrRipples, 0.4);
    vec4 snowColor = vec4(snowOrPebbles, 0.6);

    waterColor = mix(waterColor, vec4(0.19, 0.26, 0.43, 1.0), 0.75);

    vec3 waterNormal1 = decodeWaterNormal(vec4(frozenOrRipples, 1.0));
    vec3 waterNormal2 = decodeWaterNormal(vec4(rockOrRipples, 1.0));
    vec3 waterNormal = waterSeen ? mix(waterNormal1, waterNormal2, 0.5 + sin(t) / 5.0) : vec3(0.0);

    vec4 c = mix(snowColor, freezeColor, slope * 2.0);
    c = mix(mix(grassDryColor, rockColor, slope), c, snowShare);
    c = mix(mix(grassColor, rock2Color, slope / 2.0), c, mountainShare);
    c = mix(pebbleColor, c, lowlandShare);
    c = mix(waterColor, c, landShare);
    c.rgb = mix(c.rgb, rock2Color.rgb, cliffShare);
    if (hasDrape) {
        // The picture's texels cover the samples' cells: a sample's colour is at its texel's centre.
        vec4 picture = texture(drape, fTexture + 0.5 / vec2(mapSize));
        c.rgb = mix(c.rgb, picture.rgb, picture.a);
    }

    vec3 N = normalize(mix(waterNormal, normal, landShare));

#ifdef SUNLIGHT
    // The sun's light through the air over the shadows, the sky's over the hills around, and on
    // the water the sky mirrored as a still surface mirrors it (Schlick's Fresnel term).
    vec3 V = normalize(viewerPosition - fWorldPosition);
    vec3 sunlight = sunlightAtGround(altitudeInMetres(fWorldPosition)) * sunSeen();
    fragColor = vec4(c.rgb * (sunlight * clamp(dot(N, sunDirection), 0.0, 1.0) + skyIrradiance() * skySeen()), 1.0);
    float fresnel = 0.02 + 0.98 * pow(1.0 - clamp(dot(N, V), 0.0, 1.0), 5.0);
    fragColor.rgb = mix(fragColor.rgb, skyRadiance(reflect(-V, N)), fresnel * (1.0 - landShare));
    vec3 Hv = normalize(sunDirection + V);
    fragColor.rgb += c.a * material[2] * sunlight * pow(clamp(dot(Hv, N), 0.0, 1.0), 120.0);
#else
    fragColor = vec4(0.0, 0.0, 0.0, 1.0);
    for (int i = 0; i < NUM_LIGHTS; ++i) {
        vec3 lightColor = lights[i][0];
        vec3 lightPosition = lights[i][1];
        fragColor.rgb += material[0] * c.rgb * lightColor;
        vec3 L = normalize(lightPosition - fWorldPosition);
        vec3 V = normalize(viewerPosition - fWorldPosition);
        fragColor.rgb += material[1] * c.rgb * lightColor * clamp(dot(N, L), 0.0, 1.0);
        vec3 Hv = normalize(L + V);
        fragColor.rgb += c.a * material[2] * lightColor * pow(clamp(dot(Hv, N), 0.0, 1.0), 120.0);
    }
#endif

    // The bright pass sees the colour before fog, so distant highlights still bloom.
    float luminance = dot(fragColor.rgb, vec3(0.2126, 0.7152, 0.0722));
    if (luminance > bloomThreshold) {
        brightColor = vec4(fragColor.rgb, 1.0);
    } else {
        brightColor = vec4(0.0, 0.0, 0.0, 1.0);
    }

#ifdef SUNLIGHT
    // The air between the eye and the ground: the farther, the more of the sky's own colour.
    fragColor.rgb = aerialPerspective(fragColor.rgb, -V, length(fCameraPosition) * metresPerUnit);
#else
    // Clear for the first quarter of the fog distance, then thickening quadratically.
    float clearPart = 0.25;
    float d = length(fCameraPosition);
    float f = max(0.0, (d - skyData.w * clearPart) / (skyData.w - skyData.w * clearPart));
    float fog = clamp(f, 0.0, 1.0);
    fragColor.rgb = mix(fragColor.rgb, skyData.rgb, fog * fog);
#endif
}
