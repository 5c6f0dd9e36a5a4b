// Holes in the level-of-detail surface: its triangles span many samples, so where the map has no
// data the fragment stages cut them at the full mesh's cells instead. Not a stage of its own:
// included by terrainInterface.glsl when LEVEL_OF_DETAIL is defined.

#include "terrainGrid.glsl"

uniform sampler2D voidCells;  // one texel a grid cell: 1 where a corner of the cell has no data
uniform bool hasVoids;

// Leaves out the fragment where the full mesh has no triangle: in a cell with a corner without data.
void discardWhereNoData() {
    if (hasVoids && texelFetch(voidCells, cellUnder(mapPoint(fWorldPosition)), 0).r > 0.5) discard;
}
