// Holes in the streamed surface: the fragment stages leave out the cells of the drawn level's data
// that have a corner without data, as the full mesh leaves out its cells at level 0. Not a stage of
// its own: included by terrainInterface.glsl when STREAMING is defined.

#include "terrainStreamHeights.glsl"

flat in float fNodeLevel;
uniform bool hasVoids;

void discardWhereNoData() {
    if (!hasVoids) return;
    vec2 point = mapPoint(fWorldPosition);
    point.y = float(mapSize.y - 1) - point.y;
    for (int level = int(fNodeLevel); level <= coarsestTileLevel; ++level) {
        int layer;
        ivec2 corner;
        vec2 across;
        if (!heldQuad(point, level, layer, corner, across)) continue;
        // NaN spreads through the sum.
        float corners = tileSample(layer, corner) + tileSample(layer, corner + ivec2(1, 0)) +
                        tileSample(layer, corner + ivec2(0, 1)) + tileSample(layer, corner + ivec2(1, 1));
        if (isnan(corners)) discard;
        return;
    }
}
