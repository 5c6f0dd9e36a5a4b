// What the two streamed terrain vertex stages share: a vertex of the shared grid placed on its node,
// its height and normal from the streamed heights, and its morph into the next coarser level as the
// viewer moves away, as the level-of-detail surface morphs. Not a stage of its own: the embedding
// step puts it in place of each stage's #include line.

#include "terrainStreamHeights.glsl"
#include "terrainNormalRule.glsl"

in vec2 vPosition;  // the grid vertex: column and row of the shared grid, rows counted south
// The node: first sample column and row (rows counted south from the map's northern edge, as the
// tiles count them), samples between grid vertices, level.
in vec4 vNode;

uniform vec3 viewerPosition;
uniform vec2 morphRanges[MAX_LOD_LEVELS];  // per level: distances where morphing starts and ends

// The sample (rows counted from the north) as the world and the texture coordinates count rows:
// north from the southern edge.
ivec2 worldSample(ivec2 sample) {
    return ivec2(sample.x, mapSize.y - 1 - sample.y);
}

vec3 streamPoint(ivec2 sample, float height) {
    ivec2 onWorld = worldSample(sample);
    return vec3(float(onWorld.x) * sampleSpacing.x, height, -(float(onWorld.y) * sampleSpacing.y));
}

// The full mesh's normal at the spacing of a level: neighbours `step` samples away on that level,
// wrapping around the map's borders as the full mesh's do, taken in the full mesh's order (south
// first, then clockwise). A neighbour without data counts as level with the sample.
vec3 streamNormal(ivec2 sample, float height, int step, int level) {
    if (isnan(height)) return vec3(0.0, 1.0, 0.0);
    vec3 p = streamPoint(sample, height);
    vec3 toNeighbour[8];
    ivec2 offsets[8] = ivec2[8](ivec2(0, 1), ivec2(-1, 1), ivec2(-1, 0), ivec2(-1, -1), ivec2(0, -1), ivec2(1, -1),
                                ivec2(1, 0), ivec2(1, 1));
    for (int k = 0; k < 8; ++k) {
        ivec2 neighbour = sample + offsets[k] * step;
        neighbour = (neighbour + mapSize) % mapSize;
        float neighbourHeight = streamHeight(neighbour, level);
        toNeighbour[k] = streamPoint(neighbour, isnan(neighbourHeight) ? height : neighbourHeight) - p;
    }
    return normalFromNeighbours(toNeighbour[0], toNeighbour[1], toNeighbour[2], toNeighbour[3], toNeighbour[4],
                                toNeighbour[5], toNeighbour[6], toNeighbour[7]);
}

// Odd columns fold one step west and odd rows one step north, and every vertex's height goes from
// its level's sample to the next level's: fully morphed, the grid's triangles lie exactly on the next
// level's. A node's first column and row are even vertices of its level, so the grid's own parity is
// the level's. Where the map has no data the vertex stays at the other end of its morph (or at value
// 0): the fragment stages cut the hole.
void placeStreamVertex(out vec3 position, out vec3 normal, out vec2 textureCoordinates) {
    float spacing = vNode.z;
    int step = int(spacing);
    vec2 fold = -mod(vPosition, 2.0);
    ivec2 lastSample = mapSize - 1;
    ivec2 fine = clamp(ivec2(vNode.xy + vPosition * spacing), ivec2(0), lastSample);
    ivec2 coarse = clamp(ivec2(vNode.xy + (vPosition + fold) * spacing), ivec2(0), lastSample);

    int level = int(vNode.w);
    float fineHeight = streamHeight(fine, level);
    float coarseHeight = streamHeight(coarse, level + 1);
    float fallback = isnan(coarseHeight) ? heightOffset : coarseHeight;
    vec3 finePoint = streamPoint(fine, isnan(fineHeight) ? fallback : fineHeight);
    vec2 range = morphRanges[level];
    float morph = clamp((distance(finePoint, viewerPosition) - range.x) / (range.y - range.x), 0.0, 1.0);
    if (morph == 0.0) {
        position = finePoint;
        normal = streamNormal(fine, fineHeight, step, level);
        textureCoordinates = vec2(worldSample(fine)) / vec2(mapSize);
    } else {
        vec3 coarsePoint = streamPoint(coarse, isnan(coarseHeight) ? finePoint.y : coarseHeight);
        position = mix(finePoint, coarsePoint, morph);
        normal = normalize(mix(streamNormal(fine, fineHeight, step, level),
                                   streamNormal(coarse, coarseHeight, 2 * step, level + 1), morph));
        textureCoordinates = mix(vec2(worldSample(fine)), vec2(worldSample(coarse)), morph) / vec2(mapSize);
    }
}
