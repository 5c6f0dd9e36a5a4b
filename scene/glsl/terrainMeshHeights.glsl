// The full mesh's vertices as the terrain's settings place them now: the mesh keeps the heights
// it was built with, and a change of exaggeration or sea level moves them here instead of
// rebuilding it. Not a stage of its own: the embedding step puts it in place of each stage's
// #include line.

in vec3 vPosition;
in vec3 vNormal;

// Built height times heightScale plus heightShift: 1 and 0 as built, which leave every height
// exactly as it was.
uniform float heightScale;
uniform float heightShift;
// Ground below this lies on it: a sea raised above the level the map was read at. The lowest
// float while there is none, which no height lies below.
uniform float lowestHeight;

// The vertex's position and its normal, scaled with the heights (a surface stretched by s along y
// has its normals' x and z stretched by s before renormalising); flat where the sea covers it.
void placeMeshVertex(out vec3 position, out vec3 normal) {
    position = vec3(vPosition.x, vPosition.y * heightScale + heightShift, vPosition.z);
    normal = normalize(vec3(vNormal.x * heightScale, vNormal.y, vNormal.z * heightScale));
    if (position.y < lowestHeight) {
        position.y = lowestHeight;
        normal = vec3(0.0, 1.0, 0.0);
    }
}
