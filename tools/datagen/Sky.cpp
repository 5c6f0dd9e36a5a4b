// The sky picture as the dome's mesh lays it out: rings of vertices every 10 degrees of polar angle
// theta from the zenith down to 80 degrees, 18 segments around, each vertex at the image point
// (0.5, 0.5) - 0.5 * sin^2(theta) * (cos phi, sin phi). The rasteriser interpolates the image
// linearly across each flat triangle of that mesh, so every texel is painted with the sky in the
// direction of the point of the mesh it lands on; painting each texel by the vertices' formula
// instead would bend the clouds into a star of seams around the zenith. Blue deepening towards
// the zenith, pale haze at the horizon, and a layer of cumulus seen in perspective.
#include "tools/datagen/DataGen.h"
#include "tools/datagen/Noise.h"

#include <cmath>

namespace datagen {

namespace {

// Noise over the unbounded cloud plane: a period far larger than the part of the plane in view.
constexpr int PLANE_PERIOD = 4096;

constexpr int DOME_RINGS = 9;
constexpr int DOME_SEGMENTS = 18;
// Sine of the lowest elevation painted: below it the cloud plane would run off to infinity.
constexpr double MIN_ELEVATION = 0.1225;

// cos(n * 10 degrees) for any whole n, written out so that no platform's sin or cos is involved.
double cosineOfTens(int n) {
    static const double FIRST_QUADRANT[10] = {1.0, 0.984807753012208, 0.939692620785908, 0.866025403784439,
                                              0.766044443118978, 0.642787609686539, 0.5, 0.342020143325669,
                                              0.173648177666930, 0.0};
    n = ((n % 36) + 36) % 36;
    if (n <= 9) return FIRST_QUADRANT[n];
    if (n <= 18) return -FIRST_QUADRANT[18 - n];
    if (n <= 27) return -FIRST_QUADRANT[n - 18];
    return FIRST_QUADRANT[36 - n];
}
double sineOfTens(int n) { return cosineOfTens(9 - n); }

struct Vec2 {
    double x, y;
};
struct Vec3 {
    double x, y, z;
};

double cross(const Vec2& a, const Vec2& b) { return a.x * b.y - a.y * b.x; }
Vec2 minus(const Vec2& a, const Vec2& b) { return Vec2{a.x - b.x, a.y - b.y}; }
Vec2 segmentEdge(int segment) { return Vec2{cosineOfTens(2 * segment), sineOfTens(2 * segment)}; }
double ringRadius(int ring) { return 0.5 * sineOfTens(ring) * sineOfTens(ring); }

// A vertex of the dome's mesh: its offset from the image centre and its unit direction from the
// dome's centre.
struct DomeVertex {
    Vec2 offset;
    Vec3 direction;
};

DomeVertex domeVertex(int ring, int segment) {
    const double sinTheta = sineOfTens(ring), cosTheta = cosineOfTens(ring);
    const Vec2 edge = segmentEdge(segment);
    return DomeVertex{Vec2{ringRadius(ring) * edge.x, ringRadius(ring) * edge.y},
                      Vec3{edge.x * sinTheta, cosTheta, edge.y * sinTheta}};
}

// The unit direction of the point of the mesh that lands on the image point at `offset` from the
// centre; beyond the lowest ring the lowest band carries on.
Vec3 domeDirection(const Vec2& offset) {
    int segment = 0;
    while (segment < DOME_SEGMENTS - 1 &&
           !(cross(segmentEdge(segment), offset) >= 0.0 && cross(segmentEdge(segment + 1), offset) < 0.0)) {
        ++segment;
    }
    // Across a segment each ring's edge is a chord, at the ring's radius times cos(10 degrees)
    // from the centre along the segment's middle direction.
    const double reach = (offset.x * cosineOfTens(2 * segment + 1) + offset.y * sineOfTens(2 * segment + 1)) /
                         cosineOfTens(1);
    int band = 0;
    while (band < DOME_RINGS - 2 && ringRadius(band + 1) <= reach) ++band;

    // The strip splits the band's quad along the diagonal from the outer ring's first corner to
    // the inner ring's second one.
    const int next = (segment + 1) % DOME_SEGMENTS;
    const DomeVertex innerFirst = domeVertex(band, segment), innerSecond = domeVertex(band, next);
    const DomeVertex outerFirst = domeVertex(band + 1, segment), outerSecond = domeVertex(band + 1, next);
    const Vec2 diagonal = minus(innerSecond.offset, outerFirst.offset);
    const bool outerTriangle = cross(diagonal, minus(offset, outerFirst.offset)) *
                                   cross(diagonal, minus(outerSecond.offset, outerFirst.offset)) >= 0.0;
    const DomeVertex& a = outerFirst;
    const DomeVertex& b = innerSecond;
    const DomeVertex& c = outerTriangle ? outerSecond : innerFirst;
    const double area = cross(minus(b.offset, a.offset), minus(c.offset, a.offset));
    const double wb = cross(minus(offset, a.offset), minus(c.offset, a.offset)) / area;
    const double wc = cross(minus(b.offset, a.offset), minus(offset, a.offset)) / area;
    const double wa = 1.0 - wb - wc;
    const Vec3 point{wa * a.direction.x + wb * b.direction.x + wc * c.direction.x,
                     wa * a.direction.y + wb * b.direction.y + wc * c.direction.y,
                     wa * a.direction.z + wb * b.direction.z + wc * c.direction.z};
    const double horizontal = std::sqrt(point.x * point.x + point.z * point.z);
    const double length = std::sqrt(horizontal * horizontal + point.y * point.y);
    if (point.y >= MIN_ELEVATION * length) return Vec3{point.x / length, point.y / length, point.z / length};
    const double keep = std::sqrt(1.0 - MIN_ELEVATION * MIN_ELEVATION) / horizontal;
    return Vec3{point.x * keep, MIN_ELEVATION, point.z * keep};
}

// Fractal cloud density, octave by octave, so that a clear patch can stop after the coarse ones.
class CloudDensity {
public:
    CloudDensity(float x, float y, uint32_t seed) : x(x), y(y), seed(seed) {}
    // Adds the octaves up to (not including) `end` and returns the sum so far.
    float upTo(int end) {
        for (; octave < end; ++octave) {
            sum += amplitude * gradientNoise(x * f, y * f, PLANE_PERIOD, PLANE_PERIOD, seed + 17u * octave);
            amplitude *= 0.5f;
            f *= 2.03f;
        }
        return sum;
    }
    // The most the octaves from the current one on can still add: gradient noise stays within
    // 0.71 in magnitude and the amplitudes halve.
    float remainingBound(int end) const { return 0.71f * amplitude * 2.0f * (1.0f - 1.0f / static_cast<float>(1 << (end - octave))); }

private:
    float x, y;
    uint32_t seed;
    int octave = 0;
    float sum = 0.0f, amplitude = 0.5f, f = 1.0f;
};

}  // namespace

RgbImage generateSkydome(int size, uint32_t seed) {
    const uint32_t s = mix32(seed * 1231u + 5u);
    const Colour zenith = rgb8(46, 92, 176), middle = rgb8(104, 150, 210), horizon = rgb8(200, 218, 236);
    const Colour cloudLit = rgb8(252, 252, 253), cloudShade = rgb8(158, 170, 190);
    RgbImage image;
    image.width = size;
    image.height = size;
    image.pixels.resize(static_cast<size_t>(size) * size * 3);
    const double inverse = 1.0 / size;
    parallelRows(size, [&](int begin, int end) {
        for (int y = begin; y < end; ++y) {
            for (int x = 0; x < size; ++x) {
                const Vec3 direction = domeDirection(Vec2{0.5 - (x + 0.5) * inverse, 0.5 - (y + 0.5) * inverse});
                const float elevation = static_cast<float>(direction.y);  // sine of the angle above the horizon
                const float t = saturate((elevation - 0.12f) / 0.88f);
                Colour c = t < 0.35f ? mix(horizon, middle, smoothstepf(0.0f, 0.35f, t))
                                     : mix(middle, zenith, smoothstepf(0.35f, 1.0f, t));

                // Clouds on a flat layer above the dome's centre, where the direction meets it.
                const float px = static_cast<float>(-direction.x / direction.y) * 0.9f + 3.7f;
                const float py = static_cast<float>(-direction.z / direction.y) * 0.9f - 1.3f;
                CloudDensity cloudAt(px, py, s);
                const float coarse = cloudAt.upTo(3);
                const float coverage = 0.08f * gradientNoise(px * 0.25f, py * 0.25f, PLANE_PERIOD, PLANE_PERIOD, s + 99u);
                const float cloudStart = -0.04f;
                // Where even the finest octaves cannot lift the density to a cloud, the sky is clear.
                if (coarse + cloudAt.remainingBound(6) + coverage > cloudStart) {
                    const float density = cloudAt.upTo(6);
                    float cloud = smoothstepf(cloudStart, 0.28f, density + coverage);
                    // Far clouds crowd into the haze near the horizon.
                    cloud *= smoothstepf(0.15f, 0.45f, elevation) * 0.9f + 0.1f;
                    if (cloud > 0.0f) {
                        // Lit where the cloud thins towards the sun, shaded where it thickens.
                        CloudDensity towardsSun(px + 0.06f, py + 0.04f, s);
                        const float lit = saturate(0.55f + 2.5f * (coarse - towardsSun.upTo(3)));
                        Colour cloudColour = mix(cloudShade, cloudLit, lit);
                        cloudColour = scale(cloudColour, 1.0f - 0.25f * saturate((density - 0.3f) * 2.0f));
                        c = mix(c, cloudColour, cloud);
                    }
                }
                // Haze over everything low in the sky.
                c = mix(c, horizon, saturate(1.0f - elevation / 0.3f) * 0.7f);

                const size_t k = (static_cast<size_t>(y) * size + x) * 3;
                image.pixels[k + 0] = toByte(c.r);
                image.pixels[k + 1] = toByte(c.g);
                image.pixels[k + 2] = toByte(c.b);
            }
        }
    });
    return image;
}

}  // namespace datagen
