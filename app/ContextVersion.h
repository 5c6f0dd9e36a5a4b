// The least OpenGL context the renderer runs on.
#pragma once

// Ends the process with one line naming what is needed and what the current context offers
// when it is older than OpenGL 3.3 or its shading language older than GLSL 3.30: below that,
// entry points are missing (null) and the "#version 330" programs do not compile.
void requireContextVersion();
