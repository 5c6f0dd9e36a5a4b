// The height map's grid as every terrain stage sees it: its size in samples, how far apart its
// samples lie in world units, and the grid cell under a point. Not a stage of its own: the
// embedding step puts it in place of each stage's #include line.

uniform ivec2 mapSize;
uniform vec2 sampleSpacing;  // world units between neighbouring columns (x) and rows (z)

// Where a world position lies on the map, in samples: column, row.
vec2 mapPoint(vec3 worldPosition) {
    return vec2(worldPosition.x, -worldPosition.z) / sampleSpacing;
}

// The first column and row of the grid cell that holds a map point; points beyond the last
// column or row belong to the cell before it.
ivec2 cellUnder(vec2 point) {
    return ivec2(clamp(floor(point), vec2(0.0), vec2(max(mapSize - 2, ivec2(0)))));
}
