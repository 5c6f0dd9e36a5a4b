// The full mesh's normal rule, which every surface's normals follow. Not a stage of its own: the
// embedding step puts it in place of each stage's #include line.

// From the vectors to the eight neighbours A (below), B, C (left), D, E (above), F, G (right), K in
// cyclic order: the pairs A-B, C-D, E-F, G-K weigh one half, the others one.
vec3 normalFromNeighbours(vec3 a, vec3 b, vec3 c, vec3 d, vec3 e, vec3 f, vec3 g, vec3 k) {
    vec3 halfWeighted = cross(b, a) + cross(d, c) + cross(f, e) + cross(k, g);
    vec3 wholeWeighted = cross(a, k) + cross(g, f) + cross(e, d) + cross(c, b);
    return normalize(halfWeighted * 0.5 + wholeWeighted);
}
