// Vertex array creation and the interleaved float layout shared by the sky, the terrain and the full-screen quad.
#include "gpu/VertexArray.h"

void createVertexArray(GLuint& vertexArray, GLuint& vertexBuffer, GLuint* indexBuffer) {
    glGenBuffers(1, &vertexBuffer);
    if (indexBuffer) glGenBuffers(1, indexBuffer);
    glGenVertexArrays(1, &vertexArray);
    glBindVertexArray(vertexArray);
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer);
    if (indexBuffer) glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, *indexBuffer);
}

void describeFloatRecords(std::initializer_list<FloatAttribute> attributes) {
    int recordFloats = 0;
    for (const FloatAttribute& attribute : attributes) recordFloats += attribute.components;
    const GLsizei stride = static_cast<GLsizei>(recordFloats * sizeof(float));
    size_t offset = 0;
    for (const FloatAttribute& attribute : attributes) {
        if (attribute.location >= 0) {
            const GLuint location = static_cast<GLuint>(attribute.location);
            glEnableVertexAttribArray(location);
            glVertexAttribPointer(location, attribute.components, GL_FLOAT, GL_FALSE, stride,
                                  reinterpret_cast<void*>(offset));
        }
        offset += static_cast<size_t>(attribute.components) * sizeof(float);
    }
}
