// Vertex arrays over interleaved float records, the vertex layout every mesh here uses.
#pragma once

#include <GL/glew.h>

#include <initializer_list>

// One attribute of a record: where the program reads it and how many floats it takes.
struct FloatAttribute {
    GLint location;
    int components;
};

// Generates and binds a vertex array with a fresh buffer bound as GL_ARRAY_BUFFER and, when
// indexBuffer is given, one bound as GL_ELEMENT_ARRAY_BUFFER. The vertex array stays bound.
void createVertexArray(GLuint& vertexArray, GLuint& vertexBuffer, GLuint* indexBuffer);

// Points the attributes, in record order, at the bound array buffer, whose records hold exactly
// these attributes' floats. An attribute the program optimised away (location -1) still takes
// its floats in the record.
void describeFloatRecords(std::initializer_list<FloatAttribute> attributes);
