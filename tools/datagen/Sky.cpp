// The sky picture as the dome maps it: a disc around the image centre whose radius r stands for
// the polar angle theta with r = 0.5 * sin^2(theta), so the centre is the zenith and r = 0.485
// lies 10 degrees above the horizon. Blue deepening towards the zenith, pale haze at the horizon,
// and a layer of cumulus seen in perspective.
#include "tools/datagen/DataGen.h"
#include "tools/datagen/Noise.h"

#include <cmath>

namespace datagen {

namespace {

// Noise over the unbounded cloud plane: a period far larger than the part of the plane in view.
constexpr int PLANE_PERIOD = 4096;

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
    const float inverse = 1.0f / static_cast<float>(size);
    parallelRows(size, [&](int begin, int end) {
        for (int y = begin; y < end; ++y) {
            for (int x = 0; x < size; ++x) {
                const float dx = (x + 0.5f) * inverse - 0.5f, dy = (y + 0.5f) * inverse - 0.5f;
                const float r = std::sqrt(dx * dx + dy * dy);
                // sin^2 of the polar angle, held just short of the horizon outside the disc.
                const float sin2 = clampf(2.0f * r, 0.0f, 0.985f);
                const float elevation = std::sqrt(1.0f - sin2);  // sine of the angle above the horizon
                const float t = saturate((elevation - 0.12f) / 0.88f);
                Colour c = t < 0.35f ? mix(horizon, middle, smoothstepf(0.0f, 0.35f, t))
                                     : mix(middle, zenith, smoothstepf(0.35f, 1.0f, t));

                // Clouds on a flat layer: the distance along the layer grows as tan(theta).
                const float tangent = std::sqrt(sin2 / (1.0f - sin2));
                const float reach = r > 1e-6f ? tangent / r : 0.0f;
                const float px = dx * reach * 0.9f + 3.7f, py = dy * reach * 0.9f - 1.3f;
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
