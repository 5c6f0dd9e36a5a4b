// Program building failures, and textures and atlases made from BMP files, on the real driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "GlTestContext.h"
#include "io/Bitmap.h"
#include "io/BitmapWriter.h"
#include "gpu/Shader.h"
#include "gpu/Texture.h"

namespace {

const char* const VALID_VERTEX = "#version 330\nin vec3 vPosition;\nvoid main() { gl_Position = vec4(vPosition, 1.0); }\n";
const char* const VALID_FRAGMENT = "#version 330\nout vec4 fragColor;\nvoid main() { fragColor = vec4(1.0); }\n";
const char* const BROKEN = "#version 330\nvoid main() { this is not glsl; }\n";

class TextShader : public Shader {
public:
    TextShader(const char* vertex, const char* fragment) : Shader(vertex, fragment) {}
    const char* getVertexSource() override { return nullptr; }
    const char* getFragmentSource() override { return nullptr; }
};

// Builds a program that must fail; returns what it printed.
std::string buildOutputOfFailingProgram(const std::string& vertex, const std::string& fragment) {
    return gltest::outputOfFatalCall([&] {
        // The driver may report a stage that fails to compile as a GL error message as well.
        gltest::ExpectedGlErrors compileErrors;
        TextShader shader(vertex.c_str(), fragment.c_str());
    });
}

std::string writeBitmap(const std::string& name, int width, int height, uint8_t red, uint8_t green, uint8_t blue) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < rgb.size(); i += 3) {
        rgb[i] = red;
        rgb[i + 1] = green;
        rgb[i + 2] = blue;
    }
    const std::string path = ::testing::TempDir() + name;
    EXPECT_TRUE(writeFile(path, encodeBitmap24(width, height, rgb.data())));
    return path;
}

// The base level of a texture as the test knows it: layers of texels of 3 or 4 bytes, rows tightly
// packed, bottom row first.
struct BaseLevel {
    int width = 0;
    int height = 0;
    int layers = 0;
    int channels = 3;
    std::vector<uint8_t> texels;
};

BaseLevel filesAsLayers(const std::vector<std::string>& paths) {
    BaseLevel base;
    for (const std::string& path : paths) {
        Bitmap bitmap;
        EXPECT_TRUE(bitmap.load(path.c_str())) << path << ": " << bitmap.message;
        base.width = bitmap.width;
        base.height = bitmap.height;
        base.texels.insert(base.texels.end(), bitmap.pixels, bitmap.pixels + size_t(bitmap.width) * bitmap.height * 3);
        ++base.layers;
    }
    return base;
}

// Texels of every value in no order, so that a filter taken in the wrong space or over the wrong
// texels shows in every level.
BaseLevel noise(int width, int height, int channels) {
    BaseLevel base{width, height, 1, channels, std::vector<uint8_t>(size_t(width) * height * channels)};
    uint32_t state = 12345;
    for (uint8_t& byte : base.texels) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return base;
}

std::string writtenAsBitmap(const std::string& name, const BaseLevel& base) {
    const std::string path = ::testing::TempDir() + name;
    EXPECT_TRUE(writeFile(path, encodeBitmap24(base.width, base.height, base.texels.data())));
    return path;
}

struct Level {
    int width = 0;
    int height = 0;
    int depth = 0;
    std::vector<uint8_t> texels;
};

// Every level of the bound texture, down to 1 x 1.
std::vector<Level> levelsOfBound(GLenum target, const BaseLevel& base) {
    const GLenum format = base.channels == 4 ? GL_RGBA : GL_RGB;
    std::vector<Level> levels;
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    for (int level = 0; (std::max(base.width, base.height) >> level) > 0; ++level) {
        Level read;
        glGetTexLevelParameteriv(target, level, GL_TEXTURE_WIDTH, &read.width);
        glGetTexLevelParameteriv(target, level, GL_TEXTURE_HEIGHT, &read.height);
        glGetTexLevelParameteriv(target, level, GL_TEXTURE_DEPTH, &read.depth);
        read.texels.resize(size_t(read.width) * read.height * read.depth * base.channels);
        glGetTexImage(target, level, format, GL_UNSIGNED_BYTE, read.texels.data());
        levels.push_back(std::move(read));
    }
    return levels;
}

// The same base level in a texture of its own, with the levels below from the driver's generation.
std::vector<Level> driverGeneratedLevels(GLenum target, const BaseLevel& base) {
    const GLint internalFormat = base.channels == 4 ? GL_SRGB8_ALPHA8 : GL_SRGB8;
    const GLenum format = base.channels == 4 ? GL_RGBA : GL_RGB;
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(target, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (target == GL_TEXTURE_2D_ARRAY) {
        glTexImage3D(target, 0, internalFormat, base.width, base.height, base.layers, 0, format, GL_UNSIGNED_BYTE,
                     base.texels.data());
    } else {
        glTexImage2D(target, 0, internalFormat, base.width, base.height, 0, format, GL_UNSIGNED_BYTE,
                     base.texels.data());
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glGenerateMipmap(target);
    std::vector<Level> levels = levelsOfBound(target, base);
    glDeleteTextures(1, &texture);
    return levels;
}

}  // namespace

TEST(Shader, BuildsWithThePositionAttributeAtItsBoundLocation) {
    TextShader shader(VALID_VERTEX, VALID_FRAGMENT);
    EXPECT_NE(shader.program, 0u);
    EXPECT_EQ(shader.positionLocation, static_cast<GLint>(POSITION_ATTRIBUTE));
}

TEST(Shader, ProgramWithoutPositionInputHasLocationMinusOne) {
    const char* vertex = "#version 330\nvoid main() { gl_Position = vec4(0.0); }\n";
    TextShader shader(vertex, VALID_FRAGMENT);
    EXPECT_EQ(shader.positionLocation, -1);
}

TEST(ShaderDeathTest, FailedStagePrintsItsLineThenTheLogAndExits) {
    const std::string fragmentFailure = buildOutputOfFailingProgram(VALID_VERTEX, BROKEN);
    ASSERT_EQ(fragmentFailure.rfind("Fragment Shader compilation error:\n", 0), 0u) << fragmentFailure;
    EXPECT_GT(fragmentFailure.size(), std::string("Fragment Shader compilation error:\n").size());
}

// Death tests re-run the test body in the child, so each failing build gets a test of its own.
TEST(ShaderDeathTest, FragmentStageIsNeverCompiledAfterAVertexFailure) {
    const std::string vertexFailure = buildOutputOfFailingProgram(BROKEN, BROKEN);
    ASSERT_EQ(vertexFailure.rfind("Vertex Shader compilation error:\n", 0), 0u) << vertexFailure;
    EXPECT_EQ(vertexFailure.find("Fragment"), std::string::npos);
}

TEST(ShaderDeathTest, LinkFailureIsReported) {
    // Both stages compile on their own, but a program needs a main function in each stage.
    const char* fragment = "#version 330\nout vec4 fragColor;\nvoid notMain() { fragColor = vec4(1.0); }\n";
    const std::string output = buildOutputOfFailingProgram(VALID_VERTEX, fragment);
    EXPECT_EQ(output.rfind("Shading program linking error:\n", 0), 0u) << output;
}

TEST(ShaderDeathTest, LongLogsAreCutTo511Characters) {
    std::string fragment = "#version 330\nout vec4 fragColor;\nvoid main() {\n";
    for (int i = 0; i < 200; ++i) fragment += "  fragColor = undefinedName" + std::to_string(i) + ";\n";
    fragment += "}\n";
    const std::string output = buildOutputOfFailingProgram(VALID_VERTEX, fragment);
    const std::string header = "Fragment Shader compilation error:\n";
    ASSERT_EQ(output.rfind(header, 0), 0u);
    EXPECT_EQ(output.size() - header.size(), 511u);
}

TEST(Texture, AtlasKeepsLayerOrderAndBuildsTheFullMipChain) {
    const uint8_t colours[9][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}, {0, 255, 255},
                                   {255, 0, 255}, {128, 128, 128}, {255, 255, 255}, {10, 20, 30}};
    std::vector<std::string> paths;
    for (int layer = 0; layer < 9; ++layer) {
        paths.push_back(writeBitmap("layer" + std::to_string(layer) + ".bmp", 512, 512, colours[layer][0],
                                    colours[layer][1], colours[layer][2]));
    }
    std::vector<const char*> names;
    for (const std::string& path : paths) names.push_back(path.c_str());

    TextureAtlas atlas(9, names.data());
    EXPECT_EQ(atlas.width, 512);
    EXPECT_EQ(atlas.height, 512);
    EXPECT_EQ(atlas.layerCount, 9);

    GLint depth = 0, smallestWidth = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D_ARRAY, 0, GL_TEXTURE_DEPTH, &depth);
    glGetTexLevelParameteriv(GL_TEXTURE_2D_ARRAY, 9, GL_TEXTURE_WIDTH, &smallestWidth);
    EXPECT_EQ(depth, 9);
    EXPECT_EQ(smallestWidth, 1);  // levels 0 to 9: ten in all

    std::vector<uint8_t> smallest(9 * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D_ARRAY, 9, GL_RGB, GL_UNSIGNED_BYTE, smallest.data());
    for (int layer = 0; layer < 9; ++layer) {
        for (int channel = 0; channel < 3; ++channel) {
            EXPECT_NEAR(smallest[layer * 3 + channel], colours[layer][channel], 1) << "layer " << layer;
        }
    }

    GLfloat anisotropy = 0;
    glGetTexParameterfv(GL_TEXTURE_2D_ARRAY, GL_TEXTURE_MAX_ANISOTROPY_EXT, &anisotropy);
    EXPECT_EQ(anisotropy, 1.0f);
}

TEST(Texture, SingleTextureUsesTheDeviceAnisotropyAndOddRowWidths) {
    std::vector<uint8_t> rgb(10 * 3 * 3);
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i);
    const std::string path = ::testing::TempDir() + "odd-width.bmp";
    ASSERT_TRUE(writeFile(path, encodeBitmap24(10, 3, rgb.data())));

    Texture texture(path.c_str());
    EXPECT_EQ(texture.width, 10);
    EXPECT_EQ(texture.height, 3);

    GLfloat deviceMaximum = 0, anisotropy = 0;
    glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT, &deviceMaximum);
    glGetTexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY_EXT, &anisotropy);
    EXPECT_EQ(anisotropy, deviceMaximum);

    GLint levels = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 3, GL_TEXTURE_WIDTH, &levels);
    EXPECT_EQ(levels, 1);

    std::vector<uint8_t> stored(rgb.size());
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, stored.data());
    EXPECT_EQ(stored, rgb);
}

TEST(TextureDeathTest, AtlasLayerOfAnotherSizeIsAMismatch) {
    const std::string large = writeBitmap("large.bmp", 512, 512, 1, 2, 3);
    const std::string small = writeBitmap("small.bmp", 256, 256, 1, 2, 3);
    const char* paths[] = {large.c_str(), small.c_str()};
    EXPECT_EQ(gltest::outputOfFatalCall([&] { TextureAtlas(2, paths); }),
              "Could not create texture atlas: texture dimensions don't match\n");
}

TEST(TextureDeathTest, MissingLaterAtlasLayerIsALoadFailure) {
    const std::string large = writeBitmap("large.bmp", 512, 512, 1, 2, 3);
    const std::string missing = ::testing::TempDir() + "missing.bmp";
    const char* paths[] = {large.c_str(), missing.c_str()};
    EXPECT_EQ(gltest::outputOfFatalCall([&] { TextureAtlas(2, paths); }), "Could not load texture: File not found\n");
}

TEST(TextureDeathTest, MissingTextureFileEndsTheProcess) {
    const std::string missing = ::testing::TempDir() + "missing.bmp";
    EXPECT_EQ(gltest::outputOfFatalCall([&] { Texture texture(missing.c_str()); }),
              "Could not load texture: File not found\n");
}

// Catches levels built on the processor that the driver's generation would not give: a filter in
// sRGB rather than linear light, the exact sRGB curve where the driver approximates it (the
// difference grows level by level), a wrong level size or texel, a side of 1 or an odd side
// mishandled, a layer lost or put in another's place.
TEST(Texture, EveryLevelIsWhatTheDriversGenerationGives) {
    struct Case {
        const char* name;
        GLenum target;
        BaseLevel base;
        std::function<void(const BaseLevel&, const std::function<void(GLuint)>&)> makeAndCheck;
    };
    const auto atlasOf = [](const std::vector<std::string>& paths) {
        return [paths](const BaseLevel& base, const std::function<void(GLuint)>& check) {
            std::vector<const char*> names;
            for (const std::string& path : paths) names.push_back(path.c_str());
            TextureAtlas atlas(base.layers, names.data());
            check(atlas.id);
        };
    };
    const auto fileTexture = [](const std::string& name) {
        return [name](const BaseLevel& base, const std::function<void(GLuint)>& check) {
            Texture texture(writtenAsBitmap(name, base).c_str());
            check(texture.id);
        };
    };
    const auto pictureTexture = [](const BaseLevel& base, const std::function<void(GLuint)>& check) {
        Texture texture(base.width, base.height, base.texels.data());
        check(texture.id);
    };
    const std::vector<std::string> materials = {gltest::dataFile("Textures/Grass.bmp"),
                                                gltest::dataFile("Textures/Rock3.bmp"),
                                                gltest::dataFile("Textures/Snow.bmp")};
    const Case cases[] = {
        {"three material layers", GL_TEXTURE_2D_ARRAY, filesAsLayers(materials), atlasOf(materials)},
        // 20 x 12, 10 x 6, then 5 x 3, whose odd sides are the driver's to filter.
        {"odd sides below", GL_TEXTURE_2D, noise(20, 12, 3), fileTexture("odd-sides.bmp")},
        {"one texel high", GL_TEXTURE_2D, noise(64, 4, 3), fileTexture("thin.bmp")},
        {"odd from the start", GL_TEXTURE_2D, noise(7, 9, 3), fileTexture("odd.bmp")},
        {"colour and alpha", GL_TEXTURE_2D, noise(64, 32, 4), pictureTexture},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Level> made;
        c.makeAndCheck(c.base, [&](GLuint id) {
            glBindTexture(c.target, id);
            made = levelsOfBound(c.target, c.base);
        });
        const std::vector<Level> generated = driverGeneratedLevels(c.target, c.base);
        ASSERT_EQ(made.size(), generated.size());
        EXPECT_EQ(made[0].texels, c.base.texels);
        for (size_t level = 1; level < made.size(); ++level) {
            SCOPED_TRACE(level);
            EXPECT_EQ(made[level].width, generated[level].width);
            EXPECT_EQ(made[level].height, generated[level].height);
            EXPECT_EQ(made[level].depth, c.base.layers);
            if (made[level].texels.size() != generated[level].texels.size()) continue;
            size_t apart = 0;
            for (size_t i = 0; i < made[level].texels.size(); ++i) {
                apart += std::abs(made[level].texels[i] - generated[level].texels[i]) > 1;
            }
            EXPECT_LE(apart * 1000, made[level].texels.size()) << apart << " of " << made[level].texels.size();
        }
    }
}
