// Single-precision vectors and column-major matrices laid out as OpenGL takes them,
// with the view and projection constructions the renderer needs.
//
// Precision rules, which fix every printed number and pixel position independently of the
// compiler and the C library:
// - roots, tangents and trigonometry are taken in double precision and rounded back to float;
// - products of several factors are evaluated left to right in float, never fused or reordered;
// - a value that is stepped or summed in double precision (a bloom gain, a mouse delta) is
//   rounded to float once, where it is stored.
#pragma once

#include <cmath>

struct vec2 {
    float x = 0, y = 0;
};

struct vec3 {
    float x = 0, y = 0, z = 0;
};

struct vec4 {
    float x = 0, y = 0, z = 0, w = 0;
    float& operator[](int i) { return (&x)[i]; }
    const float& operator[](int i) const { return (&x)[i]; }
};

struct mat3 {
    vec3 columns[3];
    vec3& operator[](int c) { return columns[c]; }
    const vec3& operator[](int c) const { return columns[c]; }
    const float* data() const { return &columns[0].x; }
};

struct mat4 {
    vec4 columns[4];
    mat4() : mat4(1.0f) {}
    explicit mat4(float diagonal) {
        for (int c = 0; c < 4; ++c) columns[c][c] = diagonal;
    }
    vec4& operator[](int c) { return columns[c]; }
    const vec4& operator[](int c) const { return columns[c]; }
    const float* data() const { return &columns[0].x; }
};

static_assert(sizeof(vec3) == 3 * sizeof(float), "vec3 must be tightly packed");
static_assert(sizeof(mat4) == 16 * sizeof(float), "mat4 must be tightly packed");

inline vec3 operator+(const vec3& a, const vec3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline vec3 operator-(const vec3& a, const vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline vec3 operator*(const vec3& v, float s) { return {v.x * s, v.y * s, v.z * s}; }
// Component by component, as GLSL multiplies two vectors.
inline vec3 operator*(const vec3& a, const vec3& b) { return {a.x * b.x, a.y * b.y, a.z * b.z}; }
inline vec4 operator+(const vec4& a, const vec4& b) { return {a.x + b.x, a.y + b.y, a.z + b.z, a.w + b.w}; }
inline vec4 operator*(const vec4& v, float s) { return {v.x * s, v.y * s, v.z * s, v.w * s}; }

inline mat4 operator*(const mat4& a, const mat4& b) {
    mat4 product(0.0f);
    for (int column = 0; column < 4; ++column) {
        for (int row = 0; row < 4; ++row) {
            for (int k = 0; k < 4; ++k) product[column][row] += a[k][row] * b[column][k];
        }
    }
    return product;
}

inline float dot(const vec3& a, const vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

inline vec3 cross(const vec3& a, const vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

inline float sqrtSingle(float x) { return static_cast<float>(std::sqrt(static_cast<double>(x))); }

// In a namespace of their own so that they never meet the C library's float overloads.
namespace math {
inline float cos(float x) { return static_cast<float>(std::cos(static_cast<double>(x))); }
inline float sin(float x) { return static_cast<float>(std::sin(static_cast<double>(x))); }
}  // namespace math

inline float length(const vec3& v) { return sqrtSingle(dot(v, v)); }

inline vec3 normalize(const vec3& v) { return v * (1.0f / length(v)); }

inline mat4 translate(const mat4& m, const vec3& v) {
    mat4 result = m;
    result[3] = m[0] * v.x + m[1] * v.y + m[2] * v.z + m[3];
    return result;
}

inline mat4 lookAt(const vec3& eye, const vec3& center, const vec3& up) {
    const vec3 f = normalize(center - eye);
    const vec3 s = normalize(cross(f, up));
    const vec3 u = cross(s, f);
    mat4 view;
    view[0][0] = s.x;
    view[1][0] = s.y;
    view[2][0] = s.z;
    view[0][1] = u.x;
    view[1][1] = u.y;
    view[2][1] = u.z;
    view[0][2] = -f.x;
    view[1][2] = -f.y;
    view[2][2] = -f.z;
    view[3][0] = -dot(s, eye);
    view[3][1] = -dot(u, eye);
    view[3][2] = dot(f, eye);
    return view;
}

inline mat4 perspective(float fovy, float aspect, float zNear, float zFar) {
    const float t = static_cast<float>(std::tan(static_cast<double>(fovy / 2.0f)));
    mat4 projection(0.0f);
    projection[0][0] = 1.0f / (aspect * t);
    projection[1][1] = 1.0f / t;
    projection[2][2] = -(zFar + zNear) / (zFar - zNear);
    projection[2][3] = -1.0f;
    projection[3][2] = -(2.0f * zFar * zNear) / (zFar - zNear);
    return projection;
}

// The same view with depth reversed for a zero-to-one clip-space depth range: 1 at the near
// plane, 0 at the far plane.
inline mat4 reversedPerspective(float fovy, float aspect, float zNear, float zFar) {
    mat4 projection = perspective(fovy, aspect, zNear, zFar);
    projection[2][2] = zNear / (zFar - zNear);
    projection[3][2] = zFar * zNear / (zFar - zNear);
    return projection;
}

// The projection of one part of a view, pixels [x, x + width) x [y, y + height) (counted from the
// bottom-left corner, as GL's window coordinates are) of its pictureWidth x pictureHeight viewport:
// the same eye, planes and depth, its clip space scaled and shifted so that the part fills a viewport
// of width x height. Each pixel drawn so lies where that pixel of the whole picture lies, and a unit
// spans as many pixels as in the whole picture (projection[1][1] grows as the height shrinks), so
// that what judges its error in pixels (level of detail) judges it as for the whole picture.
inline mat4 partProjection(const mat4& projection, int pictureWidth, int pictureHeight, int x, int y, int width,
                           int height) {
    // Normalised device x of the part's centre, scaled: x' = (W / w) x - (2x + w - W) / w, in clip
    // space times w; the same for y.
    const double scaleX = double(pictureWidth) / width, scaleY = double(pictureHeight) / height;
    const double shiftX = -(2.0 * x + width - pictureWidth) / width;
    const double shiftY = -(2.0 * y + height - pictureHeight) / height;
    mat4 part = projection;
    for (int column = 0; column < 4; ++column) {
        const double w = projection[column][3];
        part[column][0] = static_cast<float>(scaleX * projection[column][0] + shiftX * w);
        part[column][1] = static_cast<float>(scaleY * projection[column][1] + shiftY * w);
    }
    return part;
}

// A half-line in world space: where it starts and its unit direction.
struct Ray {
    vec3 origin;
    vec3 direction;
};

// The ray from the eye through a cursor position (window coordinates, from the top-left corner)
// of a window windowWidth x windowHeight, for a rigid modelview and a perspective projection: the
// projection's x and y rows alone settle the direction, so its depth convention (standard or
// reversed) does not matter.
inline Ray cursorRay(double cursorX, double cursorY, double windowWidth, double windowHeight, const mat4& modelview,
                     const mat4& projection) {
    const double ndcX = 2.0 * cursorX / windowWidth - 1.0;
    const double ndcY = 1.0 - 2.0 * cursorY / windowHeight;
    // The direction in eye space at depth -1, undoing the projection's scale and off-centre shift.
    const double eye[3] = {(ndcX + projection[2][0]) / projection[0][0], (ndcY + projection[2][1]) / projection[1][1],
                           -1.0};
    const double move[3] = {modelview[3][0], modelview[3][1], modelview[3][2]};
    // The world is the eye space turned back by the modelview's rotation (its transpose).
    double origin[3], direction[3];
    for (int c = 0; c < 3; ++c) {
        origin[c] = -(modelview[c][0] * move[0] + modelview[c][1] * move[1] + modelview[c][2] * move[2]);
        direction[c] = modelview[c][0] * eye[0] + modelview[c][1] * eye[1] + modelview[c][2] * eye[2];
    }
    const double length = std::sqrt(direction[0] * direction[0] + direction[1] * direction[1] + direction[2] * direction[2]);
    Ray ray;
    ray.origin = vec3{float(origin[0]), float(origin[1]), float(origin[2])};
    ray.direction = vec3{float(direction[0] / length), float(direction[1] / length), float(direction[2] / length)};
    return ray;
}
