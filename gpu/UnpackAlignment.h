// The pixel-unpack row alignment of one upload, with the caller's own put back afterwards, so that
// no upload depends on what an earlier one left set.
#pragma once

#include <GL/glew.h>

class UnpackAlignment {
public:
    explicit UnpackAlignment(GLint alignment) {
        glGetIntegerv(GL_UNPACK_ALIGNMENT, &callersAlignment);
        glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    }
    ~UnpackAlignment() { glPixelStorei(GL_UNPACK_ALIGNMENT, callersAlignment); }
    UnpackAlignment(const UnpackAlignment&) = delete;
    UnpackAlignment& operator=(const UnpackAlignment&) = delete;

private:
    GLint callersAlignment = 4;
};
