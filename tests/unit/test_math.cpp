// View and projection constructions and the single-precision rounding rules they rely on.
#include <gtest/gtest.h>

#include <math.h>

#include <cmath>
#include <string>

// The C library's own float overloads must stay includable beside the math module's.
#include "math/Math.h"
#include "gpu/DepthConvention.h"

namespace {

void expectColumn(const vec4& column, float x, float y, float z, float w) {
    EXPECT_FLOAT_EQ(column.x, x);
    EXPECT_FLOAT_EQ(column.y, y);
    EXPECT_FLOAT_EQ(column.z, z);
    EXPECT_FLOAT_EQ(column.w, w);
}

}  // namespace

TEST(Matrix, DeclaredWithoutValueIsIdentityAndZeroIsZero) {
    const mat4 identity;
    const mat4 zero(0.0f);
    for (int c = 0; c < 4; ++c) {
        for (int r = 0; r < 4; ++r) {
            EXPECT_EQ(identity[c][r], c == r ? 1.0f : 0.0f);
            EXPECT_EQ(zero[c][r], 0.0f);
        }
    }
    // Columns follow each other in memory, as the matrix uniforms take them.
    EXPECT_EQ(identity.data()[5], 1.0f);
    EXPECT_EQ(&identity[1].x, identity.data() + 4);
}

TEST(Matrix, TranslateOfIdentityPutsVectorInColumnThree) {
    const mat4 moved = translate(mat4(), vec3{2.0f, -3.0f, 4.5f});
    expectColumn(moved[0], 1, 0, 0, 0);
    expectColumn(moved[3], 2.0f, -3.0f, 4.5f, 1.0f);
}

TEST(Matrix, TranslateMultipliesOnTheRight) {
    mat4 scaled(2.0f);
    scaled[3] = vec4{1.0f, 1.0f, 1.0f, 1.0f};
    const mat4 moved = translate(scaled, vec3{1.0f, 2.0f, 3.0f});
    expectColumn(moved[3], 3.0f, 5.0f, 7.0f, 1.0f);
}

TEST(LookAt, LookingDownNegativeZIsTheIdentityRotation) {
    const mat4 view = lookAt(vec3{0, 15, 0}, vec3{0, 15, -1}, vec3{0, 1, 0});
    expectColumn(view[0], 1, 0, 0, 0);
    expectColumn(view[1], 0, 1, 0, 0);
    expectColumn(view[2], 0, 0, 1, 0);
    expectColumn(view[3], 0, -15, 0, 1);
}

TEST(LookAt, MapsTheCentreOntoTheNegativeViewAxis) {
    const vec3 eye{3, 4, 5};
    const vec3 centre{-2, 1, 7};
    const mat4 view = lookAt(eye, centre, vec3{0, 1, 0});
    const float distance = length(centre - eye);
    // view * (centre, 1) must be (0, 0, -distance, 1).
    for (int row = 0; row < 3; ++row) {
        const float value = view[0][row] * centre.x + view[1][row] * centre.y + view[2][row] * centre.z + view[3][row];
        EXPECT_NEAR(value, row == 2 ? -distance : 0.0f, 1e-5f);
    }
}

TEST(Perspective, MatchesTheWindowProjectionConstants) {
    const float halfFov = 0.43633232f;
    const mat4 standard = perspective(2.0f * halfFov, 800.0f / 600.0f, 0.01f, 600.0f);
    EXPECT_FLOAT_EQ(standard[0][0], 1.6083802f);
    EXPECT_FLOAT_EQ(standard[1][1], 2.1445069f);
    EXPECT_FLOAT_EQ(standard[2][2], -1.0000334f);
    EXPECT_FLOAT_EQ(standard[3][2], -0.020000333f);
    EXPECT_EQ(standard[2][3], -1.0f);
    EXPECT_EQ(standard[3][3], 0.0f);

    const mat4 wide = perspective(2.0f * halfFov, 1920.0f / 1080.0f, 0.01f, 600.0f);
    EXPECT_FLOAT_EQ(wide[0][0], 1.2062851f);
    EXPECT_FLOAT_EQ(wide[1][1], 2.1445069f);
}

namespace {

// The depth buffer's value for a point straight ahead at the given distance, as the convention
// stores it: the standard one maps clip-space depth -1..1 onto 0..1, the reversed one keeps 0..1.
float storedDepth(const mat4& projection, float distance, DepthConvention convention) {
    const float clipZ = projection[2][2] * -distance + projection[3][2];
    const float clipW = projection[2][3] * -distance + projection[3][3];
    const float depth = clipZ / clipW;
    return convention == DepthConvention::Reversed ? depth : depth * 0.5f + 0.5f;
}

}  // namespace

TEST(ViewProjection, ClipPlanesSpanTheViewDistanceWithinTheDepthBuffersReach) {
    const float fov = 0.87266463f;
    const struct {
        DepthConvention convention;
        float viewDistance, nearPlane;
    } cases[] = {
        {DepthConvention::Standard, 600.0f, 0.01f},
        {DepthConvention::Standard, 60000.0f, 1.0f},   // near moved out: far / near stays 60000
        {DepthConvention::Reversed, 60000.0f, 0.01f},  // float depth needs no such move
    };
    for (const auto& c : cases) {
        const mat4 projection = viewProjection(fov, 1.5f, 0.01f, c.viewDistance, c.convention);
        const bool reversed = c.convention == DepthConvention::Reversed;
        const std::string where = (reversed ? "reversed " : "standard ") + std::to_string(c.viewDistance);
        EXPECT_NEAR(storedDepth(projection, c.nearPlane, c.convention), reversed ? 1.0f : 0.0f, 1e-5f) << where;
        EXPECT_NEAR(storedDepth(projection, c.viewDistance, c.convention), reversed ? 0.0f : 1.0f, 1e-5f) << where;
    }
}

TEST(SinglePrecision, TrigonometryAndRootsRoundTheDoubleResult) {
    for (float x : {0.1f, 0.43633232f, 1.0f, 2.5f, -3.0f, 100.0f}) {
        EXPECT_EQ(math::cos(x), static_cast<float>(std::cos(static_cast<double>(x))));
        EXPECT_EQ(math::sin(x), static_cast<float>(std::sin(static_cast<double>(x))));
    }
    EXPECT_EQ(length(vec3{3, 4, 12}), 13.0f);
    const vec3 unit = normalize(vec3{0, 0, -5});
    EXPECT_EQ(unit.z, -1.0f);
    EXPECT_EQ(dot(vec3{1, 2, 3}, vec3{4, 5, 6}), 32.0f);
    const vec3 axis = cross(vec3{1, 0, 0}, vec3{0, 1, 0});
    EXPECT_EQ(axis.z, 1.0f);
}

TEST(RayThroughPixel, PassesThroughThePointDrawnAtThatPixel) {
    // A ray flipped in y, turned by the rotation instead of its inverse, or read through the depth
    // rows misses the point that the view draws under the cursor.
    const mat4 modelview = lookAt(vec3{10, 20, 30}, vec3{40, 5, -20}, vec3{0, 1, 0});
    const vec3 points[] = {{40, 5, -20}, {30, 0, -25}, {55, 12, -10}};
    for (const DepthConvention convention : {DepthConvention::Standard, DepthConvention::Reversed}) {
        const mat4 projection = viewProjection(0.87266463f, 800.0f / 600.0f, 0.01f, 600.0f, convention);
        for (const vec3& point : points) {
            const mat4 clipMatrix = projection * modelview;
            vec4 clip;
            for (int row = 0; row < 4; ++row) {
                clip[row] = clipMatrix[0][row] * point.x + clipMatrix[1][row] * point.y + clipMatrix[2][row] * point.z +
                            clipMatrix[3][row];
            }
            const double cursorX = (clip.x / clip.w + 1.0) * 0.5 * 800.0;
            const double cursorY = (1.0 - clip.y / clip.w) * 0.5 * 600.0;
            const Ray ray = rayThroughPixel(cursorX, cursorY, 800, 600, modelview, projection);
            const vec3 toPoint = point - ray.origin;
            EXPECT_NEAR(length(ray.direction), 1.0f, 1e-6f);
            EXPECT_GT(dot(toPoint, ray.direction), 0.0f);
            EXPECT_NEAR(length(cross(toPoint, ray.direction)), 0.0f, 1e-3f) << point.x;
            EXPECT_NEAR(ray.origin.x, 10.0f, 1e-4f);
            EXPECT_NEAR(ray.origin.z, 30.0f, 1e-4f);
        }
    }
}
