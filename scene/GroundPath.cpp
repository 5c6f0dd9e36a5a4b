// The path as screen-space ribbons and squares built in the vertex stage: lines wider than a pixel
// are not part of the core profile, and a ribbon can be pulled towards the eye like any triangle.
#include "scene/GroundPath.h"

#include "gpu/VertexArray.h"
#include "scene/GroundPathShader.h"

namespace {

// A vertex: the segment's start and end, then which end, along and across in half-widths.
constexpr int FLOATS_PER_VERTEX = 9;
constexpr int VERTICES_PER_QUAD = 6;

// Half-widths in pixels: the line 3 pixels wide with square caps that close its bends; markers a
// dark-rimmed square 12 pixels across.
constexpr float LINE_HALF_WIDTH = 1.5f;
constexpr float MARKER_RIM_HALF_WIDTH = 6.0f;
constexpr float MARKER_HALF_WIDTH = 4.0f;
constexpr vec3 MARKER_COLOUR{1.0f, 0.9f, 0.35f};
constexpr vec3 MARKER_RIM_COLOUR{0.12f, 0.06f, 0.0f};

// Two triangles from start to end, counter-clockwise on the screen whichever way the segment runs,
// so that face culling keeps them.
void appendQuad(std::vector<float>& vertices, const vec3& start, const vec3& end) {
    static constexpr float CORNERS[VERTICES_PER_QUAD][3] = {
        {0.0f, -1.0f, -1.0f}, {1.0f, 1.0f, -1.0f}, {0.0f, -1.0f, 1.0f},
        {1.0f, 1.0f, -1.0f},  {1.0f, 1.0f, 1.0f},  {0.0f, -1.0f, 1.0f},
    };
    for (const float* corner : CORNERS) {
        vertices.insert(vertices.end(), {start.x, start.y, start.z, end.x, end.y, end.z, corner[0], corner[1], corner[2]});
    }
}

}  // namespace

GroundPath::GroundPath(const vec3& lineColour)
    : shader(std::make_unique<GroundPathShader>()), lineColour(lineColour) {
    createVertexArray(vertexArray, vertexBuffer, nullptr);
    describeFloatRecords({{shader->positionLocation, 3}, {shader->endLocation, 3}, {shader->cornerLocation, 3}});
    glBindVertexArray(0);
}

GroundPath::~GroundPath() {
    glDeleteVertexArrays(1, &vertexArray);
    glDeleteBuffers(1, &vertexBuffer);
}

void GroundPath::setPath(const std::vector<vec3>& line, const std::vector<vec3>& markers, float leastPull) {
    this->leastPull = leastPull;
    std::vector<float> vertices;
    const size_t segments = line.empty() ? 0 : line.size() - 1;
    vertices.reserve((segments + markers.size()) * VERTICES_PER_QUAD * FLOATS_PER_VERTEX);
    for (size_t k = 0; k < segments; ++k) appendQuad(vertices, line[k], line[k + 1]);
    lineVertexCount = static_cast<int>(segments * VERTICES_PER_QUAD);
    for (const vec3& marker : markers) appendQuad(vertices, marker, marker);
    markerVertexCount = static_cast<int>(markers.size() * VERTICES_PER_QUAD);
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertices.size() * sizeof(float)), vertices.data(),
                 GL_STATIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void GroundPath::draw(const mat4& modelview, const mat4& projection) const {
    if (isEmpty()) return;
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    GLboolean depthWrites = GL_TRUE;
    glGetBooleanv(GL_DEPTH_WRITEMASK, &depthWrites);

    glUseProgram(shader->program);
    glBindVertexArray(vertexArray);
    glUniformMatrix4fv(shader->modelviewLocation, 1, GL_FALSE, modelview.data());
    glUniformMatrix4fv(shader->projectionLocation, 1, GL_FALSE, projection.data());
    glUniform2f(shader->viewportSizeLocation, static_cast<float>(viewport[2]), static_cast<float>(viewport[3]));
    glUniform1f(shader->leastPullLocation, leastPull);
    // Tested against the terrain but not written: a marker's fill then covers its rim, which lies at
    // the same depth.
    glDepthMask(GL_FALSE);

    const auto drawPart = [&](int first, int count, float halfWidth, const vec3& colour) {
        glUniform1f(shader->halfWidthLocation, halfWidth);
        glUniform3f(shader->colourLocation, colour.x, colour.y, colour.z);
        glDrawArrays(GL_TRIANGLES, first, count);
    };
    if (lineVertexCount > 0) drawPart(0, lineVertexCount, LINE_HALF_WIDTH, lineColour);
    if (markerVertexCount > 0) {
        drawPart(lineVertexCount, markerVertexCount, MARKER_RIM_HALF_WIDTH, MARKER_RIM_COLOUR);
        drawPart(lineVertexCount, markerVertexCount, MARKER_HALF_WIDTH, MARKER_COLOUR);
    }

    glDepthMask(depthWrites);
    glBindVertexArray(0);
    glUseProgram(0);
}
