// Program building failures, and textures and atlases made from BMP files, on the real driver.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GlTestContext.h"
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
