// The shared node grid's buffers and its instanced draw.
#include "scene/NodeGrid.h"

#include "gpu/Shader.h"
#include "gpu/VertexArray.h"

NodeGrid::NodeGrid(int quads) {
    const int side = quads + 1;
    // Stored southern row first: the order the triangles and points are drawn in settles which of two
    // equally near fragments is kept, so it stays the one the pictures were made with.
    std::vector<float> vertices;
    for (int row = quads; row >= 0; --row) {
        for (int column = 0; column < side; ++column) {
            vertices.push_back(static_cast<float>(column));
            vertices.push_back(static_cast<float>(row));
        }
    }
    // The full mesh's triangles: in each quad the diagonal runs from the north-western corner to the
    // south-eastern one, and both triangles face up.
    std::vector<uint16_t> indices;
    for (int fromSouth = 0; fromSouth < quads; ++fromSouth) {
        for (int column = 0; column < quads; ++column) {
            const uint16_t southWest = static_cast<uint16_t>(fromSouth * side + column);
            const uint16_t northWest = static_cast<uint16_t>(southWest + side);
            indices.insert(indices.end(), {northWest, southWest, static_cast<uint16_t>(southWest + 1), northWest,
                                           static_cast<uint16_t>(southWest + 1), static_cast<uint16_t>(northWest + 1)});
        }
    }
    vertexCount = static_cast<GLsizei>(side * side);
    indexCount = static_cast<GLsizei>(indices.size());
    createVertexArray(vao, vertexBuffer, &indexBuffer);
    glBufferData(GL_ARRAY_BUFFER, vertices.size() * sizeof(float), vertices.data(), GL_STATIC_DRAW);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, indices.size() * sizeof(uint16_t), indices.data(), GL_STATIC_DRAW);
    describeFloatRecords({{POSITION_ATTRIBUTE, 2}});

    glGenBuffers(1, &instanceBuffer);
    glBindBuffer(GL_ARRAY_BUFFER, instanceBuffer);
    describeFloatRecords({{NODE_ATTRIBUTE, 4}});
    glVertexAttribDivisor(NODE_ATTRIBUTE, 1);
    glBindVertexArray(0);
}

NodeGrid::~NodeGrid() {
    glDeleteVertexArrays(1, &vao);
    const GLuint buffers[3] = {vertexBuffer, indexBuffer, instanceBuffer};
    glDeleteBuffers(3, buffers);
}

uint64_t NodeGrid::draw(const std::vector<LodInstance>& nodes, bool asPoints) {
    if (nodes.empty()) return 0;
    glBindVertexArray(vao);
    glBindBuffer(GL_ARRAY_BUFFER, instanceBuffer);
    // A fresh store each frame, so the driver never waits for the last frame's draw.
    glBufferData(GL_ARRAY_BUFFER, nodes.size() * sizeof(LodInstance), nodes.data(), GL_STREAM_DRAW);
    const GLsizei count = static_cast<GLsizei>(nodes.size());
    if (asPoints) {
        glDrawArraysInstanced(GL_POINTS, 0, vertexCount, count);
        return uint64_t(vertexCount) * uint64_t(count);
    }
    glDrawElementsInstanced(GL_TRIANGLES, indexCount, GL_UNSIGNED_SHORT, nullptr, count);
    return uint64_t(indexCount / 3) * uint64_t(count);
}
