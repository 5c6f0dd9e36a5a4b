// The least OpenGL context the renderer runs on.
#pragma once

// Whether glewInit's result means the entry points could not be loaded. GLEW's GLX build answers
// GLEW_ERROR_NO_GLX_DISPLAY when the context is not GLX's (GLFW on Wayland, or on EGL) although
// every entry point has loaded; that answer is left to requireContextVersion to judge.
bool glewInitFailed(unsigned int glewResult);

// Ends the process with one line naming what is needed and what the current context offers
// when it is older than OpenGL 3.3 or its shading language older than GLSL 3.30: below that,
// entry points are missing (null) and the "#version 330" programs do not compile.
void requireContextVersion();
