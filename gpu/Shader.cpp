// Program building: compile both stages, bind the shared attribute locations, link.
#include "gpu/Shader.h"

#include <string>

#include "io/Fatal.h"

namespace {

constexpr int INFO_LOG_CAPACITY = 512;

// Compiles one stage; on failure prints the message, then the driver's log, and exits.
GLuint compileStage(GLenum type, const char* source, const char* failureMessage) {
    const GLuint stage = glCreateShader(type);
    glShaderSource(stage, 1, &source, nullptr);
    glCompileShader(stage);
    GLint status = 0;
    glGetShaderiv(stage, GL_COMPILE_STATUS, &status);
    if (status == 0) {
        char log[INFO_LOG_CAPACITY] = {};
        glGetShaderInfoLog(stage, INFO_LOG_CAPACITY, nullptr, log);
        fatalWithoutNewline(std::string(failureMessage) + "\n" + log);
    }
    return stage;
}

}  // namespace

Shader::Shader(const char* vertexSource, const char* fragmentSource) {
    const GLuint vertexStage = compileStage(GL_VERTEX_SHADER, vertexSource, "Vertex Shader compilation error:");
    const GLuint fragmentStage =
        compileStage(GL_FRAGMENT_SHADER, fragmentSource, "Fragment Shader compilation error:");

    program = glCreateProgram();
    glAttachShader(program, vertexStage);
    glAttachShader(program, fragmentStage);
    glBindAttribLocation(program, POSITION_ATTRIBUTE, "vPosition");
    glBindAttribLocation(program, NORMAL_ATTRIBUTE, "vNormal");
    glBindAttribLocation(program, TEXTURE_ATTRIBUTE, "vTexture");
    glBindAttribLocation(program, NODE_ATTRIBUTE, "vNode");
    glLinkProgram(program);
    GLint status = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &status);
    if (status == 0) {
        char log[INFO_LOG_CAPACITY] = {};
        glGetProgramInfoLog(program, INFO_LOG_CAPACITY, nullptr, log);
        fatalWithoutNewline(std::string("Shading program linking error:\n") + log);
    }
    positionLocation = glGetAttribLocation(program, "vPosition");
}

Shader::~Shader() { glDeleteProgram(program); }
