// What the two level-of-detail terrain vertex stages share: a vertex of the shared grid placed on
// its node, its height and normal read from the height samples, and its morph into the next
// coarser level as the viewer moves away. Not a stage of its own: the embedding step puts it in
// place of each stage's #include line.

#include "terrainConstants.glsl"
#include "terrainSurface.glsl"

in vec2 vPosition;  // the grid vertex: column and row of the shared grid
in vec4 vNode;      // the node: first sample column and row, samples between grid vertices, level

uniform vec3 viewerPosition;
uniform vec2 morphRanges[MAX_LOD_LEVELS];  // per level: distances where morphing starts and ends

// Odd columns fold one step down and odd rows one step up: fully morphed, the grid's triangles
// lie exactly on the next level's, whose diagonals run the same way.
void placeLodVertex(out vec3 position, out vec3 normal, out vec2 textureCoordinates) {
    float spacing = vNode.z;
    vec2 gridIndex = vNode.xy / spacing + vPosition;
    vec2 fold = vec2(-mod(gridIndex.x, 2.0), mod(gridIndex.y, 2.0));
    ivec2 lastSample = mapSize - 1;
    ivec2 fine = min(ivec2(vNode.xy + vPosition * spacing), lastSample);
    ivec2 coarse = clamp(ivec2(vNode.xy + (vPosition + fold) * spacing), ivec2(0), lastSample);

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
