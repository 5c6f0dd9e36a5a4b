#version 330

// The measured path over the ground: each segment of the draped line a ribbon of a fixed width on
// the screen, each clicked point a square about it. Both are pulled towards the eye so that the
// surface they lie on never hides them (a line has no polygon offset), while hills in front still do.

// The segment's start and end; a marker's centre is both.
in vec3 vPosition;
in vec3 vEnd;
// x: 0 at the start, 1 at the end; y: along the segment and z: across it, in half-widths.
in vec3 vCorner;

uniform mat4 modelview;
uniform mat4 projection;
uniform vec2 viewportSize;
// Half the ribbon's width, or of a marker's side, in pixels.
uniform float halfWidth;
// The least distance, in world units, that a point is pulled towards the eye.
uniform float leastPull;

// The part of its distance that a point is pulled by: the surface between the draped points bends
// away from the line by more the farther it is drawn coarsened.
const float PULL = 0.01;
// Clip-space w of the nearest end a segment reaching behind the eye is cut back to.
const float NEAREST_W = 1e-4;

// Along the point's own line of sight, so that only its depth changes, never where it is drawn.
vec4 pulledTowardsEye(vec3 world) {
    vec4 eyeSpace = modelview * vec4(world, 1.0);
    float distance = length(eyeSpace.xyz);
    float pull = min(max(PULL, leastPull / max(distance, 1e-6)), 0.5);
    return projection * vec4(eyeSpace.xyz * (1.0 - pull), 1.0);
}

void main() {
    vec4 start = pulledTowardsEye(vPosition);
    vec4 end = pulledTowardsEye(vEnd);
    // An end behind the eye would turn the direction on the screen round: it is cut back along the
    // segment to just in front of the eye, where clipping takes over.
    if (start.w < NEAREST_W && end.w >= NEAREST_W) {
        start = mix(start, end, (NEAREST_W - start.w) / (end.w - start.w));
    } else if (end.w < NEAREST_W && start.w >= NEAREST_W) {
        end = mix(end, start, (NEAREST_W - end.w) / (start.w - end.w));
    }
    vec2 pixelsPerUnit = 0.5 * viewportSize;
    vec2 alongPixels = (end.xy / end.w - start.xy / start.w) * pixelsPerUnit;
    float alongLength = length(alongPixels);
    vec2 along = alongLength > 1e-4 ? alongPixels / alongLength : vec2(1.0, 0.0);
    vec2 across = vec2(-along.y, along.x);
    vec4 centre = vCorner.x > 0.5 ? end : start;
    vec2 offsetPixels = (along * vCorner.y + across * vCorner.z) * halfWidth;
    gl_Position = centre + vec4(offsetPixels / pixelsPerUnit * centre.w, 0.0, 0.0);
}
