// The normal that the fragment stages shade the level-of-detail surface with. Its vertex normals
// are the full mesh's, but interpolated over quads as wide as the node's sample spacing; along the
// map's borders, whose normals wrap around to the opposite border and so differ most from their
// neighbours', that would spread a border's normal far into the map. There each fragment takes
// the normal that the full mesh shows at its point instead. Not a stage of its own: included by
// terrainInterface.glsl when LEVEL_OF_DETAIL is defined.

#include "terrainSurface.glsl"

flat in float fNodeSpacing;

// The full mesh's normal at a point given in samples (column, row): the corner normals of the
// full mesh's triangle under it, weighted as the rasteriser weighs them. Each cell's diagonal runs
// from its next row's corner to its next column's, as in the mesh's strip.
vec3 fullMeshNormal(vec2 point) {
    ivec2 cell = cellUnder(point);
    vec2 f = point - vec2(cell);
    vec3 nextColumn = surfaceNormal(cell + ivec2(1, 0));
    vec3 nextRow = surfaceNormal(cell + ivec2(0, 1));
    if (f.x + f.y <= 1.0) {
        return surfaceNormal(cell) * (1.0 - f.x - f.y) + nextColumn * f.x + nextRow * f.y;
    }
    return surfaceNormal(cell + ivec2(1, 1)) * (f.x + f.y - 1.0) + nextColumn * (1.0 - f.y) + nextRow * (1.0 - f.x);
}

vec3 shadingNormal() {
    vec2 point = mapPoint(fWorldPosition);
    vec2 fromBorder = min(point, vec2(mapSize - 1) - point);
    // A border's normal reaches two quads in: the quad next to it, and the one beside that, which
    // morphing stretches over the first.
    if (min(fromBorder.x, fromBorder.y) < 2.0 * fNodeSpacing) return fullMeshNormal(point);
    return fNormal;
}
