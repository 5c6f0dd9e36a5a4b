// The nine terrain materials: every image tiles seamlessly (all noise and scattered shapes wrap
// around the tile) and carries its fine detail at several scales so that repetition stays hidden
// when the terrain repeats it 64 to 256 times.
#include "tools/datagen/DataGen.h"
#include "tools/datagen/Noise.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace datagen {

namespace {

// What a material looks like at one point before lighting: colour and a relief height used to
// shade it as if lit from the upper left.
struct Surface {
    Colour albedo;
    float height = 0.0f;
};

struct ShadeOptions {
    float bump = 1.0f;      // height difference per pixel that tilts the relief by 45 degrees
    float strength = 0.5f;  // how much of the relief lighting reaches the colour
};

template <typename Function>
RgbImage shadeSurface(int size, const ShadeOptions& options, Function surfaceAt) {
    const size_t count = static_cast<size_t>(size) * size;
    std::vector<Surface> surface(count);
    const float inverse = 1.0f / static_cast<float>(size);
    parallelRows(size, [&](int begin, int end) {
        for (int y = begin; y < end; ++y)
            for (int x = 0; x < size; ++x) surface[static_cast<size_t>(y) * size + x] = surfaceAt(x * inverse, y * inverse);
    });
    // Light from the upper left, a little above the surface.
    const float lx = -0.45f, ly = 0.45f, lz = 0.77f;
    RgbImage image;
    image.width = size;
    image.height = size;
    image.pixels.resize(count * 3);
    parallelRows(size, [&](int begin, int end) {
        for (int y = begin; y < end; ++y) {
            for (int x = 0; x < size; ++x) {
                auto heightAt = [&](int px, int py) {
                    return surface[static_cast<size_t>(wrapIndex(py, size)) * size + wrapIndex(px, size)].height;
                };
                const float gx = (heightAt(x + 1, y) - heightAt(x - 1, y)) * 0.5f * options.bump;
                const float gy = (heightAt(x, y + 1) - heightAt(x, y - 1)) * 0.5f * options.bump;
                const float nz = 1.0f / std::sqrt(gx * gx + gy * gy + 1.0f);
                const float lambert = (-gx * lx - gy * ly + lz) * nz;
                const float shade = lerpf(1.0f, clampf(lambert / lz, 0.0f, 1.6f), options.strength);
                const size_t k = static_cast<size_t>(y) * size + x;
                const Colour c = scale(surface[k].albedo, shade);
                image.pixels[k * 3 + 0] = toByte(c.r);
                image.pixels[k * 3 + 1] = toByte(c.g);
                image.pixels[k * 3 + 2] = toByte(c.b);
            }
        }
    });
    return image;
}

// Blades of grass seen from above: short tapered strokes scattered over the tile, drawn with
// wrap-around; at each pixel the topmost stroke wins, whatever the drawing order.
struct BladeHit {
    bool found = false;
    float coverage = 0.0f;
    float along = 0.0f;  // 0 at the root, 1 at the tip
    float depth = 0.0f;  // stacking order
    uint32_t id = 0;
};

class BladeLayer {
public:
    // `cells` x `cells` cells of `perCell` blades each, rooted anywhere in their cell.
    BladeLayer(int size, int cells, int perCell, float minLength, float maxLength, float minWidth, float maxWidth,
               uint32_t seed)
        : size(size), hits(static_cast<size_t>(size) * size) {
        const float cellSize = static_cast<float>(size) / static_cast<float>(cells);
        std::vector<Blade> blades;
        blades.reserve(static_cast<size_t>(cells) * cells * perCell);
        for (int cy = 0; cy < cells; ++cy) {
            for (int cx = 0; cx < cells; ++cx) {
                Random random(hash2(cx, cy, seed));
                for (int b = 0; b < perCell; ++b) {
                    Blade blade;
                    blade.rootX = (cx + random.uniform()) * cellSize;
                    blade.rootY = (cy + random.uniform()) * cellSize;
                    // Direction by rejection sampling of the unit disc: no trigonometry.
                    float dx, dy, d2;
                    do {
                        dx = random.range(-1.0f, 1.0f);
                        dy = random.range(-1.0f, 1.0f);
                        d2 = dx * dx + dy * dy;
                    } while (d2 > 1.0f || d2 < 0.01f);
                    const float d = std::sqrt(d2);
                    blade.dirX = dx / d;
                    blade.dirY = dy / d;
                    blade.length = random.range(minLength, maxLength);
                    blade.width = random.range(minWidth, maxWidth);
                    blade.depth = random.uniform();
                    blade.id = random.next();
                    blades.push_back(blade);
                }
            }
        }
        // Every band of rows draws all blades but keeps only its own rows.
        parallelRows(size, [&](int begin, int end) {
            for (const Blade& blade : blades) draw(blade, begin, end);
        });
    }

    const BladeHit& at(int x, int y) const { return hits[static_cast<size_t>(y) * size + x]; }

private:
    struct Blade {
        float rootX, rootY;  // in pixels
        float dirX, dirY;
        float length, width;
        float depth;
        uint32_t id;
    };

    void draw(const Blade& blade, int rowBegin, int rowEnd) {
        const float tipX = blade.rootX + blade.dirX * blade.length, tipY = blade.rootY + blade.dirY * blade.length;
        const float margin = blade.width + 0.5f;
        const int x0 = floorToInt(std::min(blade.rootX, tipX) - margin), x1 = floorToInt(std::max(blade.rootX, tipX) + margin) + 1;
        const int y0 = floorToInt(std::min(blade.rootY, tipY) - margin), y1 = floorToInt(std::max(blade.rootY, tipY) + margin) + 1;
        for (int y = y0; y <= y1; ++y) {
            const int row = wrapIndex(y, size);
            if (row < rowBegin || row >= rowEnd) continue;
            for (int x = x0; x <= x1; ++x) {
                const float rx = x - blade.rootX, ry = y - blade.rootY;
                const float along = rx * blade.dirX + ry * blade.dirY;
                if (along < 0.0f || along > blade.length) continue;
                const float across = rx * blade.dirY - ry * blade.dirX;
                const float t = along / blade.length;
                const float halfWidth = blade.width * (1.0f - 0.85f * t);
                const float coverage = saturate(halfWidth - (across < 0.0f ? -across : across) + 0.5f);
                if (coverage <= 0.0f) continue;
                BladeHit& hit = hits[static_cast<size_t>(row) * size + wrapIndex(x, size)];
                if (hit.found && (blade.depth < hit.depth || (blade.depth == hit.depth && blade.id < hit.id))) continue;
                hit = BladeHit{true, coverage, t, blade.depth, blade.id};
            }
        }
    }

    int size;
    std::vector<BladeHit> hits;
};

// The pixel a tile coordinate in [0, 1) belongs to.
inline int pixelOf(float u, int size) { return std::min(static_cast<int>(u * static_cast<float>(size) + 0.5f), size - 1); }

RgbImage grass(int size, uint32_t seed) {
    const BladeLayer field(size, 48, 7, 5.0f, 10.5f, 0.7f, 1.3f, seed + 1u);
    const Colour soil = rgb8(76, 86, 38), darkBlade = rgb8(86, 140, 44), brightBlade = rgb8(160, 208, 74);
    const Colour yellowBlade = rgb8(196, 196, 90), blueBlade = rgb8(92, 146, 82);
    ShadeOptions options;
    options.bump = 3.0f;
    options.strength = 0.45f;
    return shadeSurface(size, options, [&](float u, float v) {
        const float patch = 0.5f + 0.5f * fbm(u, v, 3, 3, 0.5f, seed + 2u);
        const float fine = fbm(u, v, 32, 3, 0.6f, seed + 3u);
        Surface under;
        under.albedo = mix(soil, darkBlade, saturate(0.55f + 0.6f * fine));
        under.height = 0.2f + 0.1f * fine;
        const BladeHit& hit = field.at(pixelOf(u, size), pixelOf(v, size));
        if (!hit.found) return under;
        const float tone = unitFloat(hit.id);
        Colour blade = mix(darkBlade, brightBlade, tone);
        blade = mix(blade, yellowBlade, saturate((unitFloat(mix32(hit.id)) - 0.8f) * 5.0f) * (0.4f + 0.6f * patch));
        blade = mix(blade, blueBlade, saturate((unitFloat(mix32(hit.id + 7u)) - 0.85f) * 6.0f));
        blade = scale(blade, (0.72f + 0.38f * hit.along) * (0.93f + 0.14f * patch));
        Surface top;
        top.albedo = mix(under.albedo, blade, hit.coverage);
        top.height = 0.4f + 0.6f * hit.depth + 0.3f * hit.along;
        return top;
    });
}

RgbImage grassDry(int size, uint32_t seed) {
    const BladeLayer field(size, 32, 10, 8.0f, 16.0f, 0.6f, 1.2f, seed + 11u);
    const Colour soil = rgb8(136, 114, 76), darkStraw = rgb8(166, 144, 82), paleStraw = rgb8(226, 208, 136);
    const Colour greenish = rgb8(128, 132, 66);
    ShadeOptions options;
    options.bump = 3.0f;
    options.strength = 0.45f;
    return shadeSurface(size, options, [&](float u, float v) {
        const float patch = 0.5f + 0.5f * fbm(u, v, 4, 3, 0.5f, seed + 12u);
        const float grain = fbm(u, v, 64, 2, 0.5f, seed + 13u);
        Surface under;
        under.albedo = scale(mix(soil, darkStraw, saturate(0.3f + 0.5f * patch)), 0.9f + 0.15f * grain);
        under.height = 0.15f * grain;
        const BladeHit& hit = field.at(pixelOf(u, size), pixelOf(v, size));
        if (!hit.found) return under;
        Colour blade = mix(darkStraw, paleStraw, unitFloat(hit.id));
        blade = mix(blade, greenish, saturate((unitFloat(mix32(hit.id)) - 0.75f) * 4.0f) * patch);
        blade = scale(blade, 0.8f + 0.3f * hit.along);
        Surface top;
        top.albedo = mix(under.albedo, blade, hit.coverage);
        top.height = 0.4f + 0.6f * hit.depth + 0.2f * hit.along;
        return top;
    });
}

// Granite: mottled, speckled grey stone with crystal grains, lichen stains and a few meandering
// fractures.
RgbImage rock3(int size, uint32_t seed) {
    const Colour grey = rgb8(128, 126, 120), light = rgb8(176, 172, 164), dark = rgb8(70, 68, 66);
    const Colour warm = rgb8(152, 134, 112), lichen = rgb8(136, 140, 98);
    ShadeOptions options;
    options.bump = 20.0f;
    options.strength = 0.6f;
    const int grains = size / 2;
    return shadeSurface(size, options, [&](float u, float v) {
        const float body = fbm(u, v, 4, 6, 0.55f, seed + 21u);
        const float ridge = ridgedFbm(u, v, 6, 4, 0.5f, seed + 22u);
        const float wu = u + 0.04f * body, wv = v + 0.04f * fbm(u, v, 4, 3, 0.5f, seed + 26u);
        // Two lattices of different pitch, so that the fractures do not meet on a regular grid.
        const float fracture = gradientNoise(wu * 5.0f + 0.37f, wv * 5.0f + 0.61f, 5, 5, seed + 23u) +
                               0.6f * gradientNoise(wu * 7.0f + 0.23f, wv * 7.0f + 0.71f, 7, 7, seed + 29u);
        const float crackMask = smoothstepf(-0.1f, 0.3f, fbm(u, v, 3, 2, 0.5f, seed + 27u));
        const float crackLine = (1.0f - smoothstepf(0.0f, 0.02f, fracture < 0.0f ? -fracture : fracture)) * crackMask;
        const float grain = unitFloat(hash2(floorToInt(u * grains), floorToInt(v * grains), seed + 24u));
        const float mottle = fbm(u, v, 24, 3, 0.5f, seed + 28u);
        Colour c = mix(grey, warm, saturate(0.45f + body));
        c = scale(c, 0.92f + 0.16f * mottle);
        c = mix(c, light, saturate((grain - 0.8f) * 4.0f));
        c = mix(c, dark, saturate((0.14f - grain) * 6.0f));
        c = mix(c, lichen, saturate(fbm(u, v, 8, 3, 0.5f, seed + 25u) * 2.0f - 0.7f) * 0.6f);
        c = scale(c, 0.86f + 0.24f * ridge);
        c = mix(c, dark, crackLine * 0.5f);
        Surface surface;
        surface.albedo = c;
        surface.height = 0.5f * body + 0.35f * ridge + 0.08f * mottle - 0.2f * crackLine + 0.02f * grain;
        return surface;
    });
}

// Dark, weathered rock broken into angular blocks: browner, rougher and more faceted than the
// granite, with rust stains and dust in the joints.
RgbImage rock4(int size, uint32_t seed) {
    const Colour base = rgb8(112, 103, 94), blockA = rgb8(134, 121, 105), blockB = rgb8(96, 91, 86);
    const Colour rust = rgb8(132, 98, 70), joint = rgb8(58, 52, 46);
    ShadeOptions options;
    options.bump = 26.0f;
    options.strength = 0.65f;
    return shadeSurface(size, options, [&](float u, float v) {
        const float warpA = fbm(u, v, 4, 3, 0.5f, seed + 31u), warpB = fbm(u, v, 4, 3, 0.5f, seed + 36u);
        const float wu = u + 0.05f * warpA, wv = v + 0.05f * warpB;
        const CellSample blocks = cellNoise(wu, wv, 6, 1.0f, seed + 32u);
        const CellSample chips = cellNoise(wu, wv, 17, 1.0f, seed + 33u);
        const float detail = fbm(u, v, 12, 5, 0.55f, seed + 34u);
        const float rough = ridgedFbm(u, v, 8, 4, 0.55f, seed + 37u);
        // Some joints are open and dark, others have weathered away to a faint line.
        const float open = saturate(0.5f + fbm(u, v, 5, 2, 0.5f, seed + 38u) * 1.5f);
        const float jointLine = (1.0f - smoothstepf(0.0f, 0.05f, blocks.f2 - blocks.f1)) * open;
        const float chipLine = (1.0f - smoothstepf(0.0f, 0.06f, chips.f2 - chips.f1)) * (1.0f - open) * 0.6f;
        // Each block leans its own way, which the relief lighting turns into facets.
        const float tiltX = unitFloat(mix32(blocks.id)) - 0.5f, tiltY = unitFloat(mix32(blocks.id + 1u)) - 0.5f;
        Colour c = mix(blockB, blockA, unitFloat(blocks.id));
        c = mix(c, base, 0.45f + 0.3f * detail);
        c = mix(c, rust, saturate(fbm(u, v, 6, 3, 0.5f, seed + 35u) * 2.5f - 0.8f) * 0.55f);
        c = scale(c, 0.82f + 0.3f * rough);
        c = mix(c, joint, jointLine * 0.8f + chipLine * 0.5f);
        Surface surface;
        surface.albedo = c;
        surface.height = (blocks.nearestX * tiltX + blocks.nearestY * tiltY) * 0.5f + 0.25f * rough + 0.15f * detail -
                         0.3f * jointLine - 0.1f * chipLine;
        return surface;
    });
}

// One layer of rounded, oval stones on a wrapping grid: each cell holds one stone anywhere inside
// it, no wider than a cell, so a point need only look at its own and the eight neighbouring
// cells; where stones overlap the higher surface shows.
class StoneLayer {
public:
    StoneLayer(int cells, float minRadius, float maxRadius, uint32_t seed) : cells(cells), stones(static_cast<size_t>(cells) * cells) {
        for (int cy = 0; cy < cells; ++cy) {
            for (int cx = 0; cx < cells; ++cx) {
                Random random(hash2(cx, cy, seed));
                Stone& stone = stones[static_cast<size_t>(cy) * cells + cx];
                stone.x = random.uniform();
                stone.y = random.uniform();
                stone.radius = random.range(minRadius, maxRadius);
                stone.aspect = random.range(0.6f, 1.0f);
                float ax = random.range(-1.0f, 1.0f), ay = random.range(-1.0f, 1.0f);
                const float length = std::sqrt(ax * ax + ay * ay) + 1e-6f;
                stone.axisX = ax / length;
                stone.axisY = ay / length;
                stone.lift = random.range(0.0f, 0.15f);
                stone.id = random.next();
            }
        }
    }

    struct Hit {
        float height = -1.0f;  // surface height in cells, below zero where no stone covers the point
        uint32_t id = 0;
    };

    Hit at(float u, float v) const {
        const float x = u * cells, y = v * cells;
        const int ix = floorToInt(x), iy = floorToInt(y);
        Hit best;
        for (int oy = -1; oy <= 1; ++oy) {
            for (int ox = -1; ox <= 1; ++ox) {
                const Stone& stone = stones[static_cast<size_t>(wrapIndex(iy + oy, cells)) * cells + wrapIndex(ix + ox, cells)];
                const float dx = x - (ix + ox + stone.x), dy = y - (iy + oy + stone.y);
                const float along = (dx * stone.axisX + dy * stone.axisY) / stone.radius;
                const float across = (dx * stone.axisY - dy * stone.axisX) / (stone.radius * stone.aspect);
                const float q = along * along + across * across;
                if (q >= 1.0f) continue;
                const float surface = stone.radius * stone.aspect * std::sqrt(1.0f - q) + stone.lift;
                if (surface > best.height) {
                    best.height = surface;
                    best.id = stone.id;
                }
            }
        }
        return best;
    }

private:
    struct Stone {
        float x, y;  // centre within the cell
        float radius, aspect, axisX, axisY, lift;
        uint32_t id;
    };
    int cells;
    std::vector<Stone> stones;
};

// Rounded stones of many kinds and sizes packed on coarse sand.
RgbImage pebbles(int size, uint32_t seed) {
    const Colour sand = rgb8(118, 106, 86), sandDark = rgb8(78, 70, 58);
    const Colour kinds[] = {rgb8(150, 146, 138), rgb8(118, 112, 104), rgb8(176, 164, 144), rgb8(96, 92, 90),
                            rgb8(152, 122, 98),  rgb8(190, 184, 174), rgb8(128, 122, 98), rgb8(110, 100, 92)};
    const StoneLayer bigStones(16, 0.45f, 0.65f, seed + 42u), smallStones(37, 0.4f, 0.6f, seed + 43u);
    ShadeOptions options;
    options.bump = 10.0f;
    options.strength = 0.8f;
    return shadeSurface(size, options, [&](float u, float v) {
        const float speckle = fbm(u, v, 128, 2, 0.5f, seed + 44u);
        Surface surface;
        surface.albedo = mix(sandDark, sand, saturate(0.5f + 0.6f * speckle));
        surface.height = 0.03f * speckle;
        const StoneLayer::Hit big = bigStones.at(u, v);
        const StoneLayer::Hit small = smallStones.at(u, v);
        // Heights in pixels of the tile, so that big and small stones stack sensibly.
        const float bigHeight = big.height * (static_cast<float>(size) / 16.0f) / 12.0f;
        const float smallHeight = small.height * (static_cast<float>(size) / 37.0f) / 12.0f;
        const bool useBig = big.height >= 0.0f && bigHeight >= smallHeight;
        if (!useBig && small.height < 0.0f) return surface;
        const StoneLayer::Hit& stone = useBig ? big : small;
        const float height = useBig ? bigHeight : smallHeight;
        Colour c = kinds[stone.id % 8];
        c = scale(c, 0.85f + 0.3f * unitFloat(mix32(stone.id)) + 0.1f * speckle);
        // A soft dark rim where the stone meets the sand.
        c = scale(c, 0.7f + 0.3f * saturate(height * 4.0f));
        surface.albedo = c;
        surface.height = 0.05f + height;
        return surface;
    });
}

// Wind-packed snow and ice on steep ground: blue-white with crust streaks.
RgbImage snow(int size, uint32_t seed) {
    const Colour white = rgb8(232, 238, 246), blue = rgb8(190, 206, 228), ice = rgb8(168, 190, 214);
    ShadeOptions options;
    options.bump = 16.0f;
    options.strength = 0.5f;
    return shadeSurface(size, options, [&](float u, float v) {
        // Streaks stretched along x: the noise runs four times faster across them.
        const float streak = fbm(u + 0.05f * fbm(u, v, 3, 2, 0.5f, seed + 51u), v, 4, 6, 0.55f, seed + 52u);
        const float cross = gradientNoise(u * 8.0f, v * 32.0f, 8, 32, seed + 53u);
        const float crust = fbm(u, v, 12, 4, 0.5f, seed + 54u);
        Colour c = mix(white, blue, saturate(0.4f - 0.8f * streak + 0.3f * cross));
        c = mix(c, ice, saturate(crust * 2.0f - 0.5f) * 0.6f);
        Surface surface;
        surface.albedo = c;
        surface.height = 0.6f * streak + 0.25f * cross + 0.2f * crust;
        return surface;
    });
}

// Fresh powder: bright, soft drifts with a faint sparkle.
RgbImage snow2(int size, uint32_t seed) {
    const Colour white = rgb8(242, 244, 248), shadow = rgb8(206, 216, 234);
    ShadeOptions options;
    options.bump = 10.0f;
    options.strength = 0.55f;
    return shadeSurface(size, options, [&](float u, float v) {
        const float drift = fbm(u, v, 3, 6, 0.5f, seed + 61u);
        const float dimple = cellNoise(u, v, 24, 1.0f, seed + 62u).f1;
        const float sparkle = unitFloat(hash2(floorToInt(u * size), floorToInt(v * size), seed + 63u));
        Colour c = mix(white, shadow, saturate(0.35f - 0.7f * drift + 0.3f * dimple));
        if (sparkle > 0.992f) c = rgb(1.0f, 1.0f, 1.0f);
        Surface surface;
        surface.albedo = c;
        surface.height = 0.7f * drift - 0.08f * dimple;
        return surface;
    });
}

// Open water: deep blue-green with soft swells and a faint web of caustic light.
RgbImage water(int size, uint32_t seed) {
    const Colour deep = rgb8(22, 58, 86), mid = rgb8(36, 90, 114), glint = rgb8(110, 164, 182);
    ShadeOptions options;
    options.bump = 6.0f;
    options.strength = 0.4f;
    return shadeSurface(size, options, [&](float u, float v) {
        const float body = fbm(u, v, 3, 5, 0.5f, seed + 71u);
        const float swell = gradientNoise(u * 4.0f + 0.3f * body, v * 12.0f, 4, 12, seed + 73u);
        const float wu = u + 0.05f * body, wv = v + 0.05f * swell;
        const float web = fbm(wu, wv, 10, 2, 0.5f, seed + 72u);
        const float caustic = 1.0f - smoothstepf(0.0f, 0.12f, web < 0.0f ? -web : web);
        Colour c = mix(deep, mid, saturate(0.5f + 0.8f * body + 0.3f * swell));
        c = mix(c, glint, caustic * 0.3f);
        Surface surface;
        surface.albedo = c;
        surface.height = 0.4f * body + 0.3f * swell + 0.15f * caustic;
        return surface;
    });
}

// Small waves as a normal map: the slopes of a periodic wave height field, encoded for the
// terrain program (red = x, blue = up, green = z).
RgbImage waterNormal(int size, uint32_t seed) {
    const size_t count = static_cast<size_t>(size) * size;
    std::vector<float> height(count);
    const float inverse = 1.0f / static_cast<float>(size);
    parallelRows(size, [&](int begin, int end) {
        for (int y = begin; y < end; ++y) {
            for (int x = 0; x < size; ++x) {
                const float u = x * inverse, v = y * inverse;
                // Long swells stretched across x, shorter chop in all directions.
                const float swell = gradientNoise(u * 6.0f, v * 14.0f, 6, 14, seed + 81u);
                const float chop = fbm(u + 0.03f * swell, v, 10, 5, 0.55f, seed + 82u);
                height[static_cast<size_t>(y) * size + x] = 0.8f * swell + chop;
            }
        }
    });
    RgbImage image;
    image.width = size;
    image.height = size;
    image.pixels.resize(count * 3);
    // Wave steepness; the field's slopes per pixel shrink as the tile grows.
    const float slopeGain = 4.0f * static_cast<float>(size) / 512.0f;
    parallelRows(size, [&](int begin, int end) {
        for (int y = begin; y < end; ++y) {
            for (int x = 0; x < size; ++x) {
                auto h = [&](int px, int py) { return height[static_cast<size_t>(wrapIndex(py, size)) * size + wrapIndex(px, size)]; };
                // Texture v runs towards -z on the terrain, hence the sign of the z slope.
                const float du = (h(x + 1, y) - h(x - 1, y)) * 0.5f * slopeGain;
                const float dv = (h(x, y + 1) - h(x, y - 1)) * 0.5f * slopeGain;
                const float nx = -du, ny = 1.0f, nz = dv;
                const float length = std::sqrt(nx * nx + ny * ny + nz * nz);
                const size_t k = (static_cast<size_t>(y) * size + x) * 3;
                image.pixels[k + 0] = encodeNormalComponent(nx / length);
                image.pixels[k + 1] = encodeNormalComponent(nz / length);
                image.pixels[k + 2] = encodeNormalComponent(ny / length);
            }
        }
    });
    return image;
}

struct NormalCode {
    float decoded[256];
    NormalCode() {
        for (int b = 0; b < 256; ++b) {
            const double s = b / 255.0;
            const double linear = s <= 0.04045 ? s / 12.92 : portablePow((s + 0.055) / 1.055, 2.4);
            decoded[b] = static_cast<float>(portablePow(linear, 1.0 / 2.2) * 2.0 - 1.0);
        }
    }
};

const NormalCode& normalCode() {
    static const NormalCode code;
    return code;
}

}  // namespace

uint8_t encodeNormalComponent(float n) {
    const float* decoded = normalCode().decoded;
    int low = 0, high = 255;
    while (high - low > 1) {
        const int mid = (low + high) / 2;
        (decoded[mid] <= n ? low : high) = mid;
    }
    const float dl = n - decoded[low], dh = decoded[high] - n;
    return static_cast<uint8_t>((dl < 0 ? -dl : dl) <= (dh < 0 ? -dh : dh) ? low : high);
}

float decodeNormalComponent(uint8_t byte) { return normalCode().decoded[byte]; }

RgbImage generateMaterial(Material material, int size, uint32_t seed) {
    const uint32_t s = mix32(seed * 977u + static_cast<uint32_t>(material));
    switch (material) {
        case Material::Water: return water(size, s);
        case Material::Grass: return grass(size, s);
        case Material::Rock3: return rock3(size, s);
        case Material::Rock4: return rock4(size, s);
        case Material::Pebbles1: return pebbles(size, s);
        case Material::Snow: return snow(size, s);
        case Material::Snow2: return snow2(size, s);
        case Material::GrassDry: return grassDry(size, s);
        case Material::WaterNormal: return waterNormal(size, s);
    }
    return RgbImage{};
}

}  // namespace datagen
