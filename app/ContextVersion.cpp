#include "app/ContextVersion.h"

#include <GL/glew.h>

#include <cstdio>
#include <string>

#include "io/Fatal.h"

namespace {

// Version strings begin "major.minor", followed by anything the driver adds ("4.60 NVIDIA").
bool isAtLeast(const GLubyte* version, int neededMajor, int neededMinor) {
    int major = 0, minor = 0;
    if (version == nullptr || std::sscanf(reinterpret_cast<const char*>(version), "%d.%d", &major, &minor) != 2) {
        return false;
    }
    return major > neededMajor || (major == neededMajor && minor >= neededMinor);
}

std::string describe(const GLubyte* text) {
    return text ? reinterpret_cast<const char*>(text) : "none";
}

}  // namespace

bool glewInitFailed(unsigned int glewResult) {
    return glewResult != GLEW_OK && glewResult != GLEW_ERROR_NO_GLX_DISPLAY;
}

void requireContextVersion() {
    const GLubyte* glVersion = glGetString(GL_VERSION);
    const GLubyte* glslVersion = glGetString(GL_SHADING_LANGUAGE_VERSION);
    if (isAtLeast(glVersion, 3, 3) && isAtLeast(glslVersion, 3, 30)) return;
    fatal("KELTA needs OpenGL 3.3 with GLSL 3.30; this context has OpenGL " + describe(glVersion) + " with GLSL " +
          describe(glslVersion));
}
