// What the two level-of-detail terrain vertex stages share: a vertex of the shared grid placed on
// its node, its height and normal read from the height samples, and its morph into the next
// coarser level as the viewer moves away. Not a stage of its own: the embedding step puts it in
// place of each stage's #include line.

#include "terrainConstants.glsl"
#include "terrainSurface.glsl"

in vec2 vPosition;  // the grid vertex: column and row of the shared grid, rows counted south
// The node: first sample column and row (rows counted south from the map's northern edge, above 0
// where the node reaches past it), samples between grid vertices, level.
in vec4 vNode;

uniform vec3 viewerPosition;
uniform vec2 morphRanges[MAX_LOD_LEVELS];  // per level: distances where morphing starts and ends

// The heights texture holds the samples as HeightSamples does, bottom row first, and the surface's
// points, normals and texture coordinates count rows as it does: a sample whose row counts from the
// north, in those terms. The one place where the nodes' rows meet the texture's.
ivec2 heightsSample(ivec2 fromNorth) {
    return ivec2(fromNorth.x, mapSize.y - 1 - fromNorth.y);
}

// Odd columns fold one step west and odd rows one step north: fully morphed, the grid's triangles
// lie exactly on the next level's, whose diagonals run the same way. A node's edges are even
// vertices of its level, so the grid's own parity is the level's.
void placeLodVertex(out vec3 position, out vec3 normal, out vec2 textureCoordinates) {
    float spacing = vNode.z;
    vec2 fold = -mod(vPosition, 2.0);
    ivec2 lastSample = mapSize - 1;
    ivec2 fine = heightsSample(clamp(ivec2(vNode.xy + vPosition * spacing), ivec2(0), lastSample));
    ivec2 coarse = heightsSample(clamp(ivec2(vNode.xy + (vPosition + fold) * spacing), ivec2(0), lastSample));

    vec3 finePoint = surfacePoint(fine);
    vec2 range = morphRanges[int(vNode.w)];
    float morph = clamp((distance(finePoint, viewerPosition) - range.x) / (range.y - range.x), 0.0, 1.0);
    if (morph == 0.0) {
        position = finePoint;
        normal = surfaceNormal(fine);
        textureCoordinates = vec2(fine) / vec2(mapSize);
    } else {
        position = mix(finePoint, surfacePoint(coarse), morph);
        normal = normalize(mix(surfaceNormal(fine), surfaceNormal(coarse), morph));
        textureCoordinates = mix(vec2(fine), vec2(coarse), morph) / vec2(mapSize);
    }
}
