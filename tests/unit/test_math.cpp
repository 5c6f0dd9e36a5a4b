// View and projection constructions and the single-precision rounding rules they rely on.
#include <gtest/gtest.h>

#include <math.h>

#include <cmath>
#include <string>

// The C library's own float overloads must stay includable beside the math module's.
#include "math/Math.h"
#include "gpu/DepthConvention.h"
#include "tests/CursorProjection.h"

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

// Catches a ray flipped in y (the cursor counts down), an aspect applied to the wrong axis, an eye
// taken from the translation without undoing the rotation, and a ray that depends on the depth
// convention: each world point must lie on the ray through the pixel it is drawn at.
TEST(CursorRay, PassesThroughThePointDrawnAtTheCursorInEitherDepthConvention) {
    const struct {
        vec3 eye, centre, point;
        double width, height;
    } cases[] = {
        {{0, 0, 0}, {0, 0, -1}, {0, 0, -10}, 800, 600},       // the centre of the window
        {{0, 20, 0}, {1, 10, -1}, {3, 2, -14}, 800, 600},     // below and right of the centre
        {{-5, 3, 7}, {4, 1, 2}, {20, 12, 9}, 1920, 1080},     // above and left, a wide window
        {{100, 50, -30}, {90, 0, -60}, {70, 10, -80}, 600, 900},  // looking steeply down, a tall one
    };
    for (const DepthConvention convention : {DepthConvention::Standard, DepthConvention::Reversed}) {
        for (const auto& c : cases) {
            const mat4 modelview = lookAt(c.eye, c.centre, vec3{0, 1, 0});
            const mat4 projection = viewProjection(0.87266463f, static_cast<float>(c.width / c.height), 0.01f,
                                                   60000.0f, convention);
            const vec2 cursor = testing_support::cursorOf(c.point, modelview, projection, c.width, c.height);
            const Ray ray = cursorRay(cursor.x, cursor.y, c.width, c.height, modelview, projection);
            EXPECT_NEAR(length(ray.origin - c.eye), 0.0f, 1e-4f);
            EXPECT_NEAR(length(ray.direction), 1.0f, 1e-6f);
            const vec3 toPoint = c.point - c.eye;
            const float missed = length(toPoint - ray.direction * dot(toPoint, ray.direction));
            EXPECT_NEAR(missed, 0.0f, 1e-3f) << "point " << c.point.x << " " << c.point.y << " " << c.point.z;
            EXPECT_GT(dot(toPoint, ray.direction), 0.0f);
        }
    }
}

namespace {

// Where a point in eye space lands in a viewport of width x height: pixels from the bottom-left, and
// its depth in clip space after the divide.
vec3 windowPoint(const mat4& projection, const vec3& eye, int width, int height) {
    vec4 clip;
    for (int row = 0; row < 4; ++row) {
        clip[row] = projection[0][row] * eye.x + projection[1][row] * eye.y + projection[2][row] * eye.z +
                    projection[3][row];
    }
    return vec3{(clip.x / clip.w * 0.5f + 0.5f) * width, (clip.y / clip.w * 0.5f + 0.5f) * height, clip.z / clip.w};
}

}  // namespace

// Catches a part shifted the wrong way or counted from the top, an axis scaled by the other's size,
// depth touched, and a part whose level of detail would judge its error on its own size: a point
// lands in a part where it lands in the whole picture, less the part's corner.
TEST(PartProjection, APartShowsItsPixelsOfTheWholePictureAtTheWholePicturesScale) {
    const struct {
        int pictureWidth, pictureHeight, x, y, width, height;
    } parts[] = {
        {1600, 1200, 0, 0, 1600, 1200},     // the whole picture
        {12000, 8000, 0, 0, 4848, 4608},    // the bottom-left corner
        {12000, 8000, 7152, 3392, 4848, 4608},  // the top-right corner
        {1522, 1283, 380, 4, 763, 1001},    // inside, odd sizes
        {801, 601, 400, 300, 1, 1},         // one pixel
    };
    const vec3 points[] = {{0.0f, 0.0f, -5.0f}, {3.0f, -2.0f, -40.0f}, {-250.0f, 90.0f, -500.0f}};
    for (const DepthConvention convention : {DepthConvention::Standard, DepthConvention::Reversed}) {
        for (const auto& p : parts) {
            const mat4 whole = viewProjection(0.87266463f, float(p.pictureWidth) / float(p.pictureHeight), 0.01f,
                                              60000.0f, convention);
            const mat4 part = partProjection(whole, p.pictureWidth, p.pictureHeight, p.x, p.y, p.width, p.height);
            const std::string where = std::to_string(p.x) + "," + std::to_string(p.y) + " " +
                                      std::to_string(p.width) + "x" + std::to_string(p.height);
            for (const vec3& point : points) {
                const vec3 inWhole = windowPoint(whole, point, p.pictureWidth, p.pictureHeight);
                const vec3 inPart = windowPoint(part, point, p.width, p.height);
                // Single precision over 12000 pixels: a few thousandths of a pixel.
                EXPECT_NEAR(inPart.x + p.x, inWhole.x, 0.02f) << where;
                EXPECT_NEAR(inPart.y + p.y, inWhole.y, 0.02f) << where;
                EXPECT_EQ(inPart.z, inWhole.z) << where;
            }
            // Level of detail's pixels per unit at distance one: half the viewport's height times [1][1].
            EXPECT_FLOAT_EQ(0.5f * p.height * part[1][1], 0.5f * p.pictureHeight * whole[1][1]) << where;
        }
    }
}
