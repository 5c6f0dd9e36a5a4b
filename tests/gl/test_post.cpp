// Read-back tests of the render targets, the Gaussian blur pass and the final composition,
// checked against values computed here on the CPU.
#include <memory>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "GlTestContext.h"
#include "app/Application.h"
#include "post/FinalProcessingEffect.h"
#include "post/Framebuffer.h"
#include "post/GaussianBlurEffect.h"

namespace {

const float BLUR_WEIGHTS[5] = {0.227027f, 0.1945946f, 0.1216216f, 0.054054f, 0.016216f};

// A 32-bit float colour target, so that pass results read back without half-float rounding.
struct FloatTarget {
    GLuint fbo = 0;
    GLuint texture = 0;
    int width;
    int height;

    FloatTarget(int width, int height) : width(width), height(height) {
        texture = gltest::makeFloatTexture(width, height, std::vector<float>(width * height * 4, -1.0f));
        glGenFramebuffers(1, &fbo);
        glBindFramebuffer(GL_FRAMEBUFFER, fbo);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
        EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
        glViewport(0, 0, width, height);
    }
    ~FloatTarget() {
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glDeleteFramebuffers(1, &fbo);
        glDeleteTextures(1, &texture);
    }

    std::vector<float> read() const {
        glBindFramebuffer(GL_READ_FRAMEBUFFER, fbo);
        std::vector<float> pixels = gltest::readPixels(0, 0, width, height);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
        return pixels;
    }
};

// An RGBA image, black with the given alpha until texels are set.
struct Image {
    int width;
    int height;
    std::vector<float> rgba;

    Image(int width, int height, float alpha = 0.0f)
        : width(width), height(height), rgba(static_cast<size_t>(width) * height * 4, 0.0f) {
        for (size_t i = 3; i < rgba.size(); i += 4) rgba[i] = alpha;
    }
    float& at(int x, int y, int channel) { return rgba[(static_cast<size_t>(y) * width + x) * 4 + channel]; }
    float at(int x, int y, int channel) const { return rgba[(static_cast<size_t>(y) * width + x) * 4 + channel]; }
    void setRgb(int x, int y, float r, float g, float b) {
        at(x, y, 0) = r;
        at(x, y, 1) = g;
        at(x, y, 2) = b;
    }
    void setGrey(int x, int y, float value) { setRgb(x, y, value, value, value); }
};

// The blur of one axis for an output of the input's size and a whole radius: every tap lands on
// a texel centre, and taps beyond the image read the edge texel.
Image blurOnCpu(const Image& input, bool isHorizontal, int radius) {
    Image output(input.width, input.height, 1.0f);
    for (int y = 0; y < input.height; ++y) {
        for (int x = 0; x < input.width; ++x) {
            for (int channel = 0; channel < 3; ++channel) {
                double sum = 0.0;
                for (int k = -4; k <= 4; ++k) {
                    const int sx = isHorizontal ? std::clamp(x + k * radius, 0, input.width - 1) : x;
                    const int sy = isHorizontal ? y : std::clamp(y + k * radius, 0, input.height - 1);
                    sum += static_cast<double>(BLUR_WEIGHTS[std::abs(k)]) * input.at(sx, sy, channel);
                }
                output.at(x, y, channel) = static_cast<float>(sum);
            }
        }
    }
    return output;
}

float toneCurve(float colour) { return static_cast<float>(1.0 - std::exp(-4.0 * colour)); }

std::string captureResize(Framebuffer& target, int width, int height) {
    testing::internal::CaptureStdout();
    target.resize(width, height);
    return testing::internal::GetCapturedStdout();
}

GLint boundFramebuffer() {
    GLint name = -1;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &name);
    return name;
}

GLint textureLevelParameter(GLuint texture, GLenum parameter) {
    GLint value = 0;
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, parameter, &value);
    return value;
}

GLint renderbufferParameter(GLuint renderbuffer, GLenum parameter) {
    GLint value = 0;
    glBindRenderbuffer(GL_RENDERBUFFER, renderbuffer);
    glGetRenderbufferParameteriv(GL_RENDERBUFFER, parameter, &value);
    return value;
}

std::vector<float> textureTexels(GLuint texture, int width, int height) {
    std::vector<float> texels(static_cast<size_t>(width) * height * 4);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_FLOAT, texels.data());
    return texels;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Render targets

TEST(Framebuffer, FirstResizeCreatesTheTargetAndLogsBothLines) {
    Framebuffer target(1, false);
    EXPECT_FALSE(target.isCreated);
    const std::string log = captureResize(target, 8, 4);

    ASSERT_NE(target.fbo, 0u);
    EXPECT_EQ(log, "Created new FBO (" + std::to_string(target.fbo) + ")\nUpdated FBO (" +
                       std::to_string(target.fbo) + ") with size: 8 by 4\n");
    EXPECT_TRUE(target.isCreated);
    EXPECT_EQ(target.width, 8);
    EXPECT_EQ(target.height, 4);
    ASSERT_EQ(target.colorTextures.size(), 1u);
    EXPECT_EQ(target.depthTexture, 0u);
    EXPECT_EQ(textureLevelParameter(target.colorTextures[0], GL_TEXTURE_INTERNAL_FORMAT), GL_RGBA16F);
    EXPECT_EQ(textureLevelParameter(target.colorTextures[0], GL_TEXTURE_WIDTH), 8);
    EXPECT_EQ(textureLevelParameter(target.colorTextures[0], GL_TEXTURE_HEIGHT), 4);
    EXPECT_EQ(boundFramebuffer(), 0);
}

TEST(Framebuffer, ResizeKeepsTheNameAndReplacesEveryTexture) {
    Framebuffer target(2, true);
    captureResize(target, 8, 4);
    const GLuint fbo = target.fbo;
    const std::vector<GLuint> oldColors = target.colorTextures;
    const GLuint oldDepth = target.depthTexture;
    ASSERT_NE(oldDepth, 0u);

    const std::string log = captureResize(target, 5, 3);

    EXPECT_EQ(log, "Updated FBO (" + std::to_string(fbo) + ") with size: 5 by 3\n");
    EXPECT_EQ(target.fbo, fbo);
    EXPECT_EQ(target.width, 5);
    EXPECT_EQ(target.height, 3);
    for (GLuint old : oldColors) EXPECT_FALSE(glIsTexture(old)) << "texture " << old << " was not deleted";
    EXPECT_FALSE(glIsTexture(oldDepth));
    ASSERT_EQ(target.colorTextures.size(), 2u);
    for (GLuint texture : target.colorTextures) {
        EXPECT_EQ(textureLevelParameter(texture, GL_TEXTURE_INTERNAL_FORMAT), GL_RGBA16F);
        EXPECT_EQ(textureLevelParameter(texture, GL_TEXTURE_WIDTH), 5);
        EXPECT_EQ(textureLevelParameter(texture, GL_TEXTURE_HEIGHT), 3);
    }
    EXPECT_EQ(textureLevelParameter(target.depthTexture, GL_TEXTURE_INTERNAL_FORMAT), GL_DEPTH24_STENCIL8);
    EXPECT_EQ(textureLevelParameter(target.depthTexture, GL_TEXTURE_WIDTH), 5);
    EXPECT_EQ(boundFramebuffer(), 0);
}

TEST(Framebuffer, BindDrawsIntoEveryAttachmentAtItsOwnSize) {
    Framebuffer target(2, false);
    captureResize(target, 6, 5);
    glViewport(0, 0, 800, 600);

    target.bind();
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(std::vector<GLint>(viewport, viewport + 4), (std::vector<GLint>{0, 0, 6, 5}));
    EXPECT_EQ(boundFramebuffer(), static_cast<GLint>(target.fbo));

    glClearColor(0.5f, 1.5f, 2.5f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    target.unbind();
    EXPECT_EQ(boundFramebuffer(), static_cast<GLint>(target.fbo)) << "a plain target's unbind changes nothing";
    glBindFramebuffer(GL_FRAMEBUFFER, 0);

    for (GLuint texture : target.colorTextures) {
        const std::vector<float> texels = textureTexels(texture, 6, 5);
        EXPECT_FLOAT_EQ(texels[0], 0.5f);
        EXPECT_FLOAT_EQ(texels[1], 1.5f);
        EXPECT_FLOAT_EQ(texels[2], 2.5f);
        EXPECT_FLOAT_EQ(texels[texels.size() - 2], 2.5f);
    }
}

TEST(Framebuffer, MultisampledTargetLogsFourLinesThenTwoWithTheSameNames) {
    FramebufferMultisampled target(2, true);
    const std::string first = captureResize(target, 8, 6);
    const std::string single = std::to_string(target.fbo);
    const std::string multi = std::to_string(target.multisampledFbo);
    ASSERT_NE(target.fbo, target.multisampledFbo);
    EXPECT_EQ(first, "Created new FBO (" + single + ")\nUpdated FBO (" + single + ") with size: 8 by 6\n" +
                         "Created new FBO (" + multi + ", multisampled)\nUpdated FBO (" + multi +
                         ", multisampled) with size: 8 by 6\n");

    const std::vector<GLuint> oldRenderbuffers = target.colorRenderbuffers;
    const GLuint oldDepth = target.depthRenderbuffer;
    const std::string second = captureResize(target, 1023, 767);
    EXPECT_EQ(second, "Updated FBO (" + single + ") with size: 1023 by 767\nUpdated FBO (" + multi +
                          ", multisampled) with size: 1023 by 767\n");
    EXPECT_EQ(std::to_string(target.fbo), single);
    EXPECT_EQ(std::to_string(target.multisampledFbo), multi);
    for (GLuint old : oldRenderbuffers) EXPECT_FALSE(glIsRenderbuffer(old));
    EXPECT_FALSE(glIsRenderbuffer(oldDepth));

    ASSERT_EQ(target.colorRenderbuffers.size(), 2u);
    const int samples = gltest::application().samples;
    for (GLuint renderbuffer : target.colorRenderbuffers) {
        EXPECT_EQ(renderbufferParameter(renderbuffer, GL_RENDERBUFFER_INTERNAL_FORMAT), GL_RGBA16F);
        EXPECT_EQ(renderbufferParameter(renderbuffer, GL_RENDERBUFFER_SAMPLES), samples);
        EXPECT_EQ(renderbufferParameter(renderbuffer, GL_RENDERBUFFER_WIDTH), 1023);
        EXPECT_EQ(renderbufferParameter(renderbuffer, GL_RENDERBUFFER_HEIGHT), 767);
    }
    EXPECT_EQ(renderbufferParameter(target.depthRenderbuffer, GL_RENDERBUFFER_INTERNAL_FORMAT),
              GL_DEPTH24_STENCIL8);
    EXPECT_EQ(renderbufferParameter(target.depthRenderbuffer, GL_RENDERBUFFER_SAMPLES), samples);
    EXPECT_EQ(boundFramebuffer(), 0);
}

TEST(Framebuffer, MultisampledUnbindResolvesBothColoursAndTheDepth) {
    FramebufferMultisampled target(2, true);
    captureResize(target, 4, 3);
    glViewport(0, 0, 17, 11);

    target.bind();
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 17) << "the multisampled bind leaves the viewport alone";
    EXPECT_EQ(viewport[3], 11);
    EXPECT_EQ(boundFramebuffer(), static_cast<GLint>(target.multisampledFbo));

    const float scene[4] = {0.25f, 0.5f, 0.75f, 1.0f};
    const float bright[4] = {2.0f, 3.0f, 4.0f, 1.0f};
    const float depth = 0.375f;
    glClearBufferfv(GL_COLOR, 0, scene);
    glClearBufferfv(GL_COLOR, 1, bright);
    glClearBufferfv(GL_DEPTH, 0, &depth);
    target.unbind();
    EXPECT_EQ(boundFramebuffer(), 0);

    const std::vector<float> sceneTexels = textureTexels(target.colorTextures[0], 4, 3);
    const std::vector<float> brightTexels = textureTexels(target.colorTextures[1], 4, 3);
    for (size_t i = 0; i < sceneTexels.size(); ++i) {
        EXPECT_FLOAT_EQ(sceneTexels[i], scene[i % 4]) << "scene texel component " << i;
        EXPECT_FLOAT_EQ(brightTexels[i], bright[i % 4]) << "bright texel component " << i;
    }
    std::vector<float> depths(12, -1.0f);
    glBindTexture(GL_TEXTURE_2D, target.depthTexture);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT, GL_FLOAT, depths.data());
    for (float value : depths) EXPECT_NEAR(value, depth, 1e-6);
}

TEST(FramebufferDeathTest, ZeroSideIsReportedAsIncompleteInUpperCaseHexAndEndsTheProcess) {
    const std::regex plainReport("Created new FBO \\(([0-9]+)\\)\nFramebuffer \\(([0-9]+)\\) incomplete: 0x8CD6\n");
    std::smatch match;
    const std::string plain = gltest::outputOfFatalCall([] {
        Framebuffer target(1, false);
        target.resize(0, 4);
    });
    ASSERT_TRUE(std::regex_match(plain, match, plainReport)) << plain;
    EXPECT_EQ(match[1], match[2]);
}

TEST(FramebufferDeathTest, IncompleteMultisampledTargetNamesItsMultisampledFramebuffer) {
    std::smatch match;
    // More samples than the driver offers leave the renderbuffers without storage, each refusal a GL error.
    const std::regex multisampledReport(
        "Created new FBO \\([0-9]+\\)\nUpdated FBO \\([0-9]+\\) with size: 4 by 4\n"
        "Created new FBO \\(([0-9]+), multisampled\\)\nFramebuffer \\(([0-9]+), multisampled\\) incomplete: 0x[0-9A-F]+\n");
    const std::string multisampled = gltest::outputOfFatalCall([] {
        gltest::ExpectedGlErrors refusedStorage;
        gltest::application().samples = 1 << 20;
        FramebufferMultisampled target(2, true);
        target.resize(4, 4);
    });
    ASSERT_TRUE(std::regex_match(multisampled, match, multisampledReport)) << multisampled;
    EXPECT_EQ(match[1], match[2]);
}

// ---------------------------------------------------------------------------------------------
// Gaussian blur

class GaussianBlur : public testing::Test {
protected:
    static GaussianBlurEffect* effect;

    static void SetUpTestSuite() {
        if (!effect) effect = new GaussianBlurEffect();
    }

    void SetUp() override {
        glDisable(GL_DEPTH_TEST);
        glEnable(GL_CULL_FACE);
    }

    // Runs one pass of the effect from the image into a float target of the given size.
    static std::vector<float> blur(const Image& input, bool isHorizontal, float radius, int width, int height) {
        const GLuint texture = gltest::makeFloatTexture(input.width, input.height, input.rgba);
        FloatTarget target(width, height);
        effect->tex = texture;
        effect->isHorizontal = isHorizontal;
        effect->radius = radius;
        effect->draw();
        std::vector<float> result = target.read();
        glDeleteTextures(1, &texture);
        return result;
    }
    static std::vector<float> blur(const Image& input, bool isHorizontal, float radius) {
        return blur(input, isHorizontal, radius, input.width, input.height);
    }

    static void expectMatches(const std::vector<float>& actual, const Image& expected, float tolerance,
                              const std::string& what) {
        ASSERT_EQ(actual.size(), expected.rgba.size());
        int mismatches = 0;
        for (size_t i = 0; i < actual.size() && mismatches < 10; ++i) {
            if (std::fabs(actual[i] - expected.rgba[i]) > tolerance) {
                ++mismatches;
                const size_t texel = i / 4;
                ADD_FAILURE() << what << ": texel (" << texel % expected.width << ", " << texel / expected.width
                              << ") channel " << i % 4 << " is " << actual[i] << ", expected "
                              << expected.rgba[i];
            }
        }
    }
};

GaussianBlurEffect* GaussianBlur::effect = nullptr;

TEST_F(GaussianBlur, WhiteTexelSpreadsOverNineTexelsOfItsRowOnly) {
    Image input(32, 16);
    input.setGrey(16, 8, 1.0f);

    Image alongRow(32, 16, 1.0f);
    Image alongColumn(32, 16, 1.0f);
    for (int k = -4; k <= 4; ++k) {
        alongRow.setGrey(16 + k, 8, BLUR_WEIGHTS[std::abs(k)]);
        alongColumn.setGrey(16, 8 + k, BLUR_WEIGHTS[std::abs(k)]);
    }
    expectMatches(blur(input, true, 1.0f), alongRow, 1e-6f, "horizontal");
    expectMatches(blur(input, false, 1.0f), alongColumn, 1e-6f, "vertical");
}

TEST_F(GaussianBlur, RadiusTenTapsEveryTenthTexelAndNothingBetween) {
    Image input(128, 3);
    input.setRgb(64, 1, 1.0f, 0.5f, 0.25f);
    const std::vector<float> result = blur(input, true, 10.0f);

    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 128; ++x) {
            const int distance = std::abs(x - 64);
            const bool isTap = y == 1 && distance % 10 == 0 && distance <= 40;
            const float weight = isTap ? BLUR_WEIGHTS[distance / 10] : 0.0f;
            const float* texel = &result[(static_cast<size_t>(y) * 128 + x) * 4];
            EXPECT_NEAR(texel[0], weight, 1e-6f) << "x " << x << " y " << y;
            EXPECT_NEAR(texel[1], weight * 0.5f, 1e-6f) << "x " << x << " y " << y;
            EXPECT_NEAR(texel[2], weight * 0.25f, 1e-6f) << "x " << x << " y " << y;
        }
    }
}

TEST_F(GaussianBlur, MatchesTheCpuBlurOnNoiseWithEdgeTexelsRepeatedBeyondTheBorder) {
    std::mt19937 random(5);
    std::uniform_real_distribution<float> value(0.0f, 4.0f);
    Image input(40, 24);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 40; ++x) input.setRgb(x, y, value(random), value(random), value(random));

    for (const int radius : {1, 5, 10}) {
        for (const bool isHorizontal : {true, false}) {
            const std::string what =
                std::string(isHorizontal ? "horizontal" : "vertical") + " radius " + std::to_string(radius);
            expectMatches(blur(input, isHorizontal, static_cast<float>(radius)),
                          blurOnCpu(input, isHorizontal, radius), 1e-5f, what);
        }
    }
}

// A part of a picture drawn alone blurs its scene on the whole picture's texels: catches a window
// applied to the centre tap only, or its scale and offset taken the other way round.
TEST_F(GaussianBlur, AnInputWindowReadsThePartOfTheInputItNamesWithTapsInTheInputsTexels) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(0.0f, 4.0f);
    Image input(40, 24);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 40; ++x) input.setRgb(x, y, value(random), value(random), value(random));
    // The middle half of the input each way: texels 10 to 29 across, 6 to 17 down.
    effect->inputWindow = TextureWindow{{0.5f, 0.5f}, {0.25f, 0.25f}};
    for (const bool isHorizontal : {true, false}) {
        const Image whole = blurOnCpu(input, isHorizontal, 5);
        Image part(20, 12, 1.0f);
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 20; ++x) part.setRgb(x, y, whole.at(x + 10, y + 6, 0), whole.at(x + 10, y + 6, 1),
                                                     whole.at(x + 10, y + 6, 2));
        expectMatches(blur(input, isHorizontal, 5.0f, 20, 12), part, 1e-5f, isHorizontal ? "horizontal" : "vertical");
    }
    effect->inputWindow = TextureWindow{};
}

TEST_F(GaussianBlur, ConstantImageStaysConstantUpToTheBorders) {
    Image input(13, 9);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 13; ++x) input.setRgb(x, y, 0.3f, 0.6f, 7.5f);

    for (const float radius : {1.0f, 2.5f, 5.0f, 10.0f}) {
        for (const bool isHorizontal : {true, false}) {
            const std::vector<float> result = blur(input, isHorizontal, radius);
            for (size_t i = 0; i < result.size(); i += 4) {
                EXPECT_NEAR(result[i], 0.3f, 1e-5f) << "radius " << radius << " texel " << i / 4;
                EXPECT_NEAR(result[i + 1], 0.6f, 1e-5f) << "radius " << radius << " texel " << i / 4;
                EXPECT_NEAR(result[i + 2], 7.5f, 1e-5f) << "radius " << radius << " texel " << i / 4;
                EXPECT_EQ(result[i + 3], 1.0f);
            }
        }
    }
}

TEST_F(GaussianBlur, RadiusCountsTexelsOfTheInputNotOfTheTarget) {
    // Each target texel centre falls between two input texels, so a lit pair of input texels
    // reads as 1; with taps two input texels apart the target row holds the nine weights.
    Image input(64, 1);
    input.setGrey(40, 0, 1.0f);
    input.setGrey(41, 0, 1.0f);
    const std::vector<float> result = blur(input, true, 2.0f, 32, 1);

    for (int x = 0; x < 32; ++x) {
        const int distance = std::abs(x - 20);
        const float expected = distance <= 4 ? BLUR_WEIGHTS[distance] : 0.0f;
        EXPECT_NEAR(result[x * 4], expected, 1e-5f) << "x " << x;
    }
}

// ---------------------------------------------------------------------------------------------
// Final composition

class FinalProcessing : public testing::Test {
protected:
    static FinalProcessingEffect* effect;
    static constexpr int WIDTH = 6;

    static void SetUpTestSuite() {
        if (!effect) effect = new FinalProcessingEffect(std::make_unique<FinalProcessingShader>());
    }

    void SetUp() override {
        glDisable(GL_DEPTH_TEST);
        glEnable(GL_CULL_FACE);
        effect->isBloomEnabled = true;
        effect->debugMode = 0;
        effect->bloomGain = 1.0f;
    }

    // Composes a one-row picture from the three rows of grey values and returns its red channel
    // after checking that every texel is grey and opaque.
    static std::vector<float> compose(const std::vector<float>& scene, const std::vector<float>& bloom,
                                      const std::vector<float>& bright) {
        auto texture = [](const std::vector<float>& values) {
            std::vector<float> rgba;
            for (float v : values) rgba.insert(rgba.end(), {v, v, v, 0.0f});
            return gltest::makeFloatTexture(static_cast<int>(values.size()), 1, rgba);
        };
        const GLuint sceneTexture = texture(scene);
        const GLuint bloomTexture = texture(bloom);
        const GLuint brightTexture = texture(bright);
        FloatTarget target(WIDTH, 1);
        effect->tex = sceneTexture;
        effect->tex2 = bloomTexture;
        effect->tex3 = brightTexture;
        effect->draw();
        const std::vector<float> pixels = target.read();
        const GLuint textures[] = {sceneTexture, bloomTexture, brightTexture};
        glDeleteTextures(3, textures);

        std::vector<float> red;
        for (int x = 0; x < WIDTH; ++x) {
            EXPECT_EQ(pixels[x * 4], pixels[x * 4 + 1]);
            EXPECT_EQ(pixels[x * 4], pixels[x * 4 + 2]);
            EXPECT_EQ(pixels[x * 4 + 3], 1.0f);
            red.push_back(pixels[x * 4]);
        }
        return red;
    }
};

FinalProcessingEffect* FinalProcessing::effect = nullptr;

const std::vector<float> SCENE_ROW = {0.0f, 0.25f, 0.5f, 1.0f, 2.0f, 8.0f};
const std::vector<float> BLOOM_ROW = {0.5f, 0.1f, 0.0f, 2.0f, 3.0f, 0.25f};
const std::vector<float> BRIGHT_ROW = {0.0f, 1.5f, 0.75f, 2.5f, 0.0f, 9.0f};

TEST_F(FinalProcessing, ToneCurveMapsZeroToZeroAndAQuarterToOneMinusOneOverE) {
    effect->debugMode = 1;
    const std::vector<float> picture = compose(SCENE_ROW, BLOOM_ROW, BRIGHT_ROW);
    EXPECT_EQ(picture[0], 0.0f);
    EXPECT_NEAR(picture[1], 1.0f - std::exp(-1.0f), 1e-6f);
    for (int x = 0; x < WIDTH; ++x) EXPECT_NEAR(picture[x], toneCurve(SCENE_ROW[x]), 1e-6f) << "x " << x;
    for (int x = 1; x < WIDTH; ++x) {
        EXPECT_GT(picture[x], picture[x - 1]);
        EXPECT_LE(picture[x], 1.0f);
    }
}

TEST_F(FinalProcessing, BloomViewAddsTheScaledBloomBeforeToneMapping) {
    effect->bloomGain = 0.5f;
    const std::vector<float> picture = compose(SCENE_ROW, BLOOM_ROW, BRIGHT_ROW);
    for (int x = 0; x < WIDTH; ++x)
        EXPECT_NEAR(picture[x], toneCurve(SCENE_ROW[x] + 0.5f * BLOOM_ROW[x]), 1e-6f) << "x " << x;
}

TEST_F(FinalProcessing, BloomViewWithoutGainOrWithBloomDisabledEqualsTheSceneAlone) {
    effect->debugMode = 1;
    const std::vector<float> withoutBloom = compose(SCENE_ROW, BLOOM_ROW, BRIGHT_ROW);

    effect->debugMode = 0;
    effect->bloomGain = 0.0f;
    EXPECT_EQ(compose(SCENE_ROW, BLOOM_ROW, BRIGHT_ROW), withoutBloom);

    effect->bloomGain = 1.0f;
    effect->isBloomEnabled = false;
    EXPECT_EQ(compose(SCENE_ROW, BLOOM_ROW, BRIGHT_ROW), withoutBloom);

    effect->debugMode = 7;
    effect->isBloomEnabled = true;
    EXPECT_EQ(compose(SCENE_ROW, BLOOM_ROW, BRIGHT_ROW), withoutBloom) << "unknown views show view 1";
}

TEST_F(FinalProcessing, View2ShowsTheBrightPassImageUntoneMapped) {
    effect->debugMode = 2;
    effect->bloomGain = 3.0f;
    const std::vector<float> picture = compose(SCENE_ROW, BLOOM_ROW, BRIGHT_ROW);
    for (int x = 0; x < WIDTH; ++x) EXPECT_NEAR(picture[x], BRIGHT_ROW[x], 1e-6f * BRIGHT_ROW[x]) << "x " << x;
}

TEST_F(FinalProcessing, View3ShowsTheBloomTimesGainUntoneMappedWhateverIsBloomEnabled) {
    effect->debugMode = 3;
    for (const bool isBloomEnabled : {true, false}) {
        effect->isBloomEnabled = isBloomEnabled;
        for (const float gain : {1.0f, 0.25f, 2.0f}) {
            effect->bloomGain = gain;
            const std::vector<float> picture = compose(SCENE_ROW, BLOOM_ROW, BRIGHT_ROW);
            for (int x = 0; x < WIDTH; ++x)
                EXPECT_NEAR(picture[x], BLOOM_ROW[x] * gain, 1e-6f * BLOOM_ROW[x] * gain) << "gain " << gain << " x " << x;
        }
    }
    effect->bloomGain = 0.0f;
    EXPECT_EQ(compose(SCENE_ROW, BLOOM_ROW, BRIGHT_ROW), std::vector<float>(WIDTH, 0.0f));
}
