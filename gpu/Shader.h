// Base of every GLSL program: compiles a vertex and a fragment text, links them with fixed
// attribute locations and ends the process on any build failure.
#pragma once

#include <GL/glew.h>

// Attribute locations shared by every program, bound before linking so that one vertex
// array serves all programs that draw the same mesh.
enum AttributeLocation : GLuint {
    POSITION_ATTRIBUTE = 0,
    NORMAL_ATTRIBUTE = 1,
    TEXTURE_ATTRIBUTE = 2,
    // Per-instance node of the level-of-detail terrain.
    NODE_ATTRIBUTE = 3,
};

class Shader {
public:
    GLuint program = 0;
    GLint positionLocation = -1;

    // Builds the program; does not return on a compile or link failure.
    Shader(const char* vertexSource, const char* fragmentSource);
    // Deletes the program: the context that built it must be current.
    virtual ~Shader();
    Shader(const Shader&) = delete;
    Shader& operator=(const Shader&) = delete;

    // The vertex-stage text of the subclass's program.
    virtual const char* getVertexSource() = 0;
    // The fragment-stage text of the subclass's program.
    virtual const char* getFragmentSource() = 0;
};
