// Numbers that the terrain's C++ code and its GLSL stages share, written once. Only #define lines,
// so that the file reads the same in both languages: C++ includes it, the stages #include it.

// The most levels the level-of-detail surface may have: the length of its morph-range uniform.
#define MAX_LOD_LEVELS 16

// How far the water's travelling wave moves the surface below where it lies, at most.
#define WATER_WAVE_AMPLITUDE (1.0 / 64.0)
