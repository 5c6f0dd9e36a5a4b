// The streamed terrain's heights, one pure function of a point of the map and the finest level it may
// be read from, given what the tile cache holds: the finest level from there on whose tile is held,
// interpolated over that level's triangles, and a tile still fading in mixed with what the coarser
// levels give. Every vertex at the same point and level therefore gets the same height, whichever
// node draws it; where nodes of two levels meet, the finer is fully morphed onto the coarser's
// samples, so neighbouring nodes never crack. Shared by the streamed vertex stages and, for its holes, the
// fragment stages built for streaming. Not a stage of its own: the embedding step puts it in place of
// each stage's #include line.

#include "terrainConstants.glsl"
#include "terrainGrid.glsl"

// One tile a layer: its samples with the apron, the southern row first.
uniform sampler2DArray tileCache;
// Mip level k holds the tiles of level k, rows counted from the north: a held tile's layer + 1, else 0.
uniform usampler2D pageTable;
// Texel (layer, 0): how far the layer's tile has faded in, from 0 to 1.
uniform sampler2D layerFades;
uniform int tileQuads;
uniform int coarsestTileLevel;
uniform ivec2 tileLevelSamples[MAX_LOD_LEVELS];  // per tile level: samples across and down
uniform ivec2 tileLevelTiles[MAX_LOD_LEVELS];    // per tile level: tiles across and down
uniform float heightOffset;                      // the height of value 0
uniform float heightPerValue;                    // the height of one unit of value
// Ground below this lies on it: a sea raised above the level the map was read at; the lowest float
// while there is none.
uniform float lowestHeight;

// Points of the map are in samples of level 0, columns east from its western edge and rows south from
// its northern edge, as the levels are anchored.

// Where the point lies among level `level`'s quads: the layer holding the quad's tile, the quad's
// north-west sample in that tile, and the point's place across the quad. False when the cache does
// not hold the tile.
bool heldQuad(vec2 point, int level, out int layer, out ivec2 corner, out vec2 across) {
    vec2 levelPoint = point / float(1 << level);
    ivec2 quad = clamp(ivec2(floor(levelPoint)), ivec2(0), max(tileLevelSamples[level] - 2, ivec2(0)));
    ivec2 tile = min(quad / tileQuads, tileLevelTiles[level] - 1);
    uint entry = texelFetch(pageTable, tile, level).r;
    if (entry == 0u) return false;
    layer = int(entry) - 1;
    corner = quad - tile * tileQuads;
    // Beyond its last sample a level repeats it.
    across = clamp(levelPoint - vec2(quad), 0.0, 1.0);
    return true;
}

// A tile's sample, counted east from its western edge and south from its northern edge.
float tileSample(int layer, ivec2 sample) {
    return texelFetch(tileCache, ivec3(sample.x + 1, tileQuads + 1 - sample.y, layer), 0).r;
}

// The quad's surface at the point: its two triangles meet along the diagonal from the north-west
// corner to the south-east one, as the level-of-detail grid splits quads.
float quadValue(int layer, ivec2 corner, vec2 across) {
    float northWest = tileSample(layer, corner);
    if (across == vec2(0.0)) return northWest;
    float southEast = tileSample(layer, corner + ivec2(1, 1));
    if (across.x >= across.y) {
        float northEast = tileSample(layer, corner + ivec2(1, 0));
        return northWest + across.x * (northEast - northWest) + across.y * (southEast - northEast);
    }
    float southWest = tileSample(layer, corner + ivec2(0, 1));
    return northWest + across.y * (southWest - northWest) + across.x * (southEast - southWest);
}

// The value at the point from the finest held level from `level` on; NaN where it has no data. The
// coarsest level is always held and never fades.
float streamValue(vec2 point, int level) {
    float value = 0.0;
    float remaining = 1.0;
    for (int k = level; k <= coarsestTileLevel && remaining > 0.0; ++k) {
        int layer;
        ivec2 corner;
        vec2 across;
        if (!heldQuad(point, k, layer, corner, across)) continue;
        float fade = texelFetch(layerFades, ivec2(layer, 0), 0).r;
        if (fade == 0.0) continue;
        value += remaining * fade * quadValue(layer, corner, across);
        remaining *= 1.0 - fade;
    }
    return value;
}

// The height of the sample (a point of the map, as above) as level `level` gives it, or the coarsest
// level beyond it; NaN where the map has no data. A level's own samples, not the coarser levels' at
// the same places: a file's averaged overviews are surfaces of their own, which the morph fades
// between.
float streamHeight(ivec2 sample, int level) {
    float height = heightOffset + streamValue(vec2(sample), min(level, coarsestTileLevel)) * heightPerValue;
    // A comparison, not max(): NaN, a void, stays NaN.
    return height < lowestHeight ? lowestHeight : height;
}
