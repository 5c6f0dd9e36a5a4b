// Where a world point appears under the cursor: the inverse of cursorRay, for tests to check it against.
#pragma once

#include "math/Math.h"

namespace testing_support {

inline vec4 transformed(const mat4& m, const vec4& v) { return m[0] * v.x + m[1] * v.y + m[2] * v.z + m[3] * v.w; }

// Window coordinates (origin at the top left, y down) of a world point in front of the eye.
inline vec2 cursorOf(const vec3& point, const mat4& modelview, const mat4& projection, double windowWidth,
                     double windowHeight) {
    const vec4 clip = transformed(projection, transformed(modelview, vec4{point.x, point.y, point.z, 1.0f}));
    const double ndcX = static_cast<double>(clip.x) / clip.w;
    const double ndcY = static_cast<double>(clip.y) / clip.w;
    return vec2{static_cast<float>((ndcX + 1.0) * 0.5 * windowWidth),
                static_cast<float>((1.0 - ndcY) * 0.5 * windowHeight)};
}

}  // namespace testing_support
