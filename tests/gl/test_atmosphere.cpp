// The atmosphere's sky drawn and its shared GLSL functions evaluated on the GPU, read back: the
// colours of noon, sunset, dusk and night, the sun's disc and its bloom, the horizon below which the
// sky keeps its colour, the sunlight and skylight on the ground, the air in front of distant ground,
// and when the sky-view table is made again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "GlTestContext.h"
#include "SceneTarget.h"
#include "ShaderSources.h"
#include "gpu/DepthConvention.h"
#include "gpu/Shader.h"
#include "light/Atmosphere.h"
#include "post/Framebuffer.h"
#include "post/FullScreenEffect.h"
#include "testglsl/ShaderSources.h"
#include "tests/TempFolder.h"

namespace {

using gltest::SceneTarget;

constexpr float DEGREE = 0.017453293f;

// A unit direction at an elevation above the horizon and an azimuth from north, clockwise, in degrees.
vec3 directionAt(float elevationDegrees, float azimuthDegrees) {
    const float elevation = elevationDegrees * DEGREE;
    const float azimuth = azimuthDegrees * DEGREE;
    return {math::sin(azimuth) * math::cos(elevation), math::sin(elevation),
            -math::cos(azimuth) * math::cos(elevation)};
}

struct Rgb {
    float r = 0, g = 0, b = 0;
};

float luminance(const Rgb& c) { return 0.2126f * c.r + 0.7152f * c.g + 0.0722f * c.b; }
// What the final pass shows for a value.
float toneMapped(float value) { return 1.0f - std::exp(-4.0f * value); }


mat4 viewTowards(const vec3& direction) {
    // Straight up or down the usual up vector would leave the view's side undefined.
    const vec3 up = std::fabs(direction.y) > 0.99f ? vec3{0.0f, 0.0f, -1.0f} : vec3{0.0f, 1.0f, 0.0f};
    return lookAt({0.0f, 0.0f, 0.0f}, direction, up);
}

// The sky as drawSky draws it, looking along a direction with a square field of the given width.
struct SkyPicture {
    int side;
    std::vector<float> colour;
    std::vector<float> bright;

    Rgb at(const std::vector<float>& image, int x, int y) const {
        const float* p = &image[(size_t(y) * size_t(side) + size_t(x)) * 4];
        return {p[0], p[1], p[2]};
    }
    Rgb centre() const { return at(colour, side / 2, side / 2); }
};

SkyPicture drawSkyTowards(Atmosphere& atmosphere, const vec3& direction, float fieldDegrees = 1.0f, int side = 8) {
    const SceneTarget target(side);
    target.begin();
    atmosphere.drawSky(viewTowards(direction), perspective(fieldDegrees * DEGREE, 1.0f, 0.1f, 1000.0f));
    return {side, target.read(0), target.read(1)};
}

Rgb skyTowards(Atmosphere& atmosphere, float elevationDegrees, float azimuthDegrees) {
    return drawSkyTowards(atmosphere, directionAt(elevationDegrees, azimuthDegrees)).centre();
}

// A program that evaluates one of light/glsl/atmosphere.glsl's functions into a single texel.
class ProbeProgram : public Shader {
public:
    AtmosphereLocations tables;
    GLint probe = glGetUniformLocation(program, "probe");
    GLint direction = glGetUniformLocation(program, "probeDirection");
    GLint colour = glGetUniformLocation(program, "probeColour");
    GLint distance = glGetUniformLocation(program, "probeDistance");
    GLint altitude = glGetUniformLocation(program, "probeAltitude");

    ProbeProgram() : Shader(glsl::fullScreenVert, glsl::atmosphereProbeFrag), tables(program) {}
    const char* getVertexSource() override { return glsl::fullScreenVert; }
    const char* getFragmentSource() override { return glsl::atmosphereProbeFrag; }
};

enum class Probe { SkyRadiance, SunlightAtGround, SkyIrradiance, AerialPerspective };

struct ProbeArguments {
    vec3 direction{0.0f, 1.0f, 0.0f};
    vec3 colour;
    float distanceMetres = 0.0f;
    float altitudeMetres = 0.0f;
};

class AtmosphereTest : public ::testing::Test {
protected:
    static std::unique_ptr<Atmosphere> atmosphere;
    static std::unique_ptr<FullScreenEffect> probePass;
    static GLuint probeTexture;
    static GLuint probeFramebuffer;

    static void SetUpTestSuite() {
        atmosphere = std::make_unique<Atmosphere>();
        probePass = std::make_unique<FullScreenEffect>(std::make_unique<ProbeProgram>());
        probeTexture = gltest::makeFloatTexture(1, 1, {0.0f, 0.0f, 0.0f, 0.0f});
        glGenFramebuffers(1, &probeFramebuffer);
        glBindFramebuffer(GL_FRAMEBUFFER, probeFramebuffer);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, probeTexture, 0);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
    }
    static void TearDownTestSuite() {
        // A deleted program left in use would be put back by the next code that restores it.
        glUseProgram(0);
        glDeleteFramebuffers(1, &probeFramebuffer);
        glDeleteTextures(1, &probeTexture);
        probePass.reset();
        atmosphere.reset();
    }

    static void setSun(float elevationDegrees, float azimuthDegrees, float cameraAltitudeMetres = 0.0f) {
        atmosphere->update(directionAt(elevationDegrees, azimuthDegrees), cameraAltitudeMetres);
    }

    static Rgb evaluate(Probe probe, const ProbeArguments& arguments = {}) {
        const ProbeProgram& program = static_cast<const ProbeProgram&>(*probePass->shader);
        glBindFramebuffer(GL_FRAMEBUFFER, probeFramebuffer);
        glViewport(0, 0, 1, 1);
        glUseProgram(program.program);
        atmosphere->bindTables(program.tables);
        glUniform1i(program.probe, static_cast<int>(probe));
        glUniform3f(program.direction, arguments.direction.x, arguments.direction.y, arguments.direction.z);
        glUniform3f(program.colour, arguments.colour.x, arguments.colour.y, arguments.colour.z);
        glUniform1f(program.distance, arguments.distanceMetres);
        glUniform1f(program.altitude, arguments.altitudeMetres);
        probePass->draw();
        const std::vector<float> texel = gltest::readPixels(0, 0, 1, 1);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        return {texel[0], texel[1], texel[2]};
    }
};

std::unique_ptr<Atmosphere> AtmosphereTest::atmosphere;
std::unique_ptr<FullScreenEffect> AtmosphereTest::probePass;
GLuint AtmosphereTest::probeTexture = 0;
GLuint AtmosphereTest::probeFramebuffer = 0;

using SkyAt = std::function<Rgb(float elevationDegrees, float azimuthDegrees)>;

struct SkyLook {
    const char* name;
    float sunElevation;
    float sunAzimuth;
    std::function<void(const SkyAt& sky)> check;
};

TEST_F(AtmosphereTest, SkyShowsTheColoursOfTheSunsHeight) {
    const SkyLook looks[] = {
        // Scattering coefficients out of order, or a sky far too bright for the tone curve.
        {"noon zenith is a blue that the tone curve keeps", 60.0f, 180.0f,
         [](const SkyAt& sky) {
             const Rgb zenith = sky(88.0f, 0.0f);
             EXPECT_GT(zenith.b, 1.5f * zenith.r);
             EXPECT_GT(zenith.b, zenith.g);
             EXPECT_GT(toneMapped(zenith.b), 0.4f);
             EXPECT_LT(toneMapped(zenith.b), 0.95f);
         }},
        // Mie scattering or the long horizontal paths missing, or the latitude mapping upside down.
        {"noon horizon is brighter and whiter than the zenith", 60.0f, 180.0f,
         [](const SkyAt& sky) {
             const Rgb zenith = sky(88.0f, 0.0f);
             const Rgb horizon = sky(1.0f, 90.0f);
             EXPECT_GT(luminance(horizon), luminance(zenith));
             EXPECT_LT(horizon.b / horizon.r, zenith.b / zenith.r);
         }},
        // Sunlight not dimmed on its way in, or the azimuth mapping turned away from the sun.
        {"sunset horizon is redder towards the sun than away from it", 1.0f, 270.0f,
         [](const SkyAt& sky) {
             const Rgb towards = sky(2.0f, 255.0f);
             const Rgb away = sky(2.0f, 90.0f);
             EXPECT_GT(towards.r / towards.b, 1.5f * (away.r / away.b));
             EXPECT_GT(towards.r, towards.b);
         }},
        // Multiple scattering or the twilight's lit upper air missing, or no adaptation to the failing light.
        {"dusk is a dark blue", -4.0f, 270.0f,
         [](const SkyAt& sky) {
             const Rgb zenith = sky(80.0f, 0.0f);
             EXPECT_GT(zenith.b, 1.5f * zenith.r);
             EXPECT_GT(toneMapped(zenith.b), 0.1f);
             EXPECT_LT(toneMapped(luminance(zenith)), 0.3f);
         }},
        // A sun below the horizon still lighting the air, as a clamped transmittance lookup would.
        {"night is near black", -18.0f, 270.0f,
         [](const SkyAt& sky) {
             for (const Rgb& c : {sky(80.0f, 0.0f), sky(3.0f, 270.0f), sky(3.0f, 90.0f)}) {
                 EXPECT_LT(toneMapped(std::max({c.r, c.g, c.b})), 0.02f);
             }
         }},
        // Rays into the ground drawn black, as looking into a void or past the map's edge would show.
        {"below the horizon the horizon's colour", 30.0f, 180.0f,
         [](const SkyAt& sky) {
             for (float azimuth : {0.0f, 90.0f, 180.0f}) {
                 const Rgb horizon = sky(0.0f, azimuth);
                 EXPECT_GT(luminance(horizon), 0.05f);
                 for (float elevation : {-5.0f, -60.0f}) {
                     const Rgb below = sky(elevation, azimuth);
                     EXPECT_NEAR(below.r, horizon.r, 0.01f * horizon.r);
                     EXPECT_NEAR(below.b, horizon.b, 0.01f * horizon.b);
                 }
             }
         }},
    };
    for (const SkyLook& look : looks) {
        SCOPED_TRACE(look.name);
        setSun(look.sunElevation, look.sunAzimuth);
        look.check([](float elevation, float azimuth) { return skyTowards(*atmosphere, elevation, azimuth); });
    }
}

TEST_F(AtmosphereTest, SunsDiscIsBrightestAndBlooms) {
    struct Disc {
        const char* name;
        float sunElevation;
        std::function<void(const SkyPicture& picture)> check;
    };
    // Looking at the sun over a degree on 16 pixels: the disc covers the centre, the corners are 0.7 degrees out.
    const Disc discs[] = {
        // No disc, a disc of the wrong size, or one left out of the bright pass.
        {"high sun", 40.0f,
         [](const SkyPicture& picture) {
             const Rgb centre = picture.centre();
             const Rgb corner = picture.at(picture.colour, 0, 0);
             EXPECT_GT(luminance(centre), 50.0f * luminance(corner));
             const Rgb bright = picture.at(picture.bright, picture.side / 2, picture.side / 2);
             EXPECT_EQ(bright.r, centre.r);
             EXPECT_EQ(bright.b, centre.b);
         }},
        // The disc not dimmed by the air along the view, or dimmed below the bloom threshold.
        {"setting sun", 1.0f,
         [](const SkyPicture& picture) {
             const Rgb centre = picture.centre();
             EXPECT_GT(centre.r, 2.0f * centre.b);
             EXPECT_GT(luminance(picture.at(picture.bright, picture.side / 2, picture.side / 2)), 1.0f);
         }},
        // The disc drawn through the ground.
        {"set sun", -1.0f, [](const SkyPicture& picture) { EXPECT_LT(luminance(picture.centre()), 1.0f); }},
    };
    for (const Disc& disc : discs) {
        SCOPED_TRACE(disc.name);
        setSun(disc.sunElevation, 120.0f);
        disc.check(drawSkyTowards(*atmosphere, directionAt(disc.sunElevation, 120.0f), 1.0f, 16));
    }
    // The sky itself stays out of the bright pass, or all of it would bloom.
    setSun(40.0f, 120.0f);
    const SkyPicture sky = drawSkyTowards(*atmosphere, directionAt(60.0f, 300.0f));
    EXPECT_EQ(luminance(sky.at(sky.bright, 4, 4)), 0.0f);
}

TEST_F(AtmosphereTest, SkyViewTableIsMadeAgainOnlyForNoticeableChanges) {
    struct Change {
        const char* name;
        vec3 sun;
        float altitude;
        bool remakes;
    };
    const vec3 start = directionAt(30.0f, 90.0f);
    const Change changes[] = {
        // A table made every frame, whatever the sun does.
        {"the same sun and altitude", start, 500.0f, false},
        {"the same sun, not of unit length", start * 3.0f, 500.0f, false},
        {"the sun turned by a fiftieth of a degree", directionAt(30.02f, 90.0f), 500.0f, false},
        {"the camera a few metres higher", start, 505.0f, false},
        // A table left as it was when the sky has changed.
        {"the sun turned by a degree", directionAt(31.0f, 90.0f), 500.0f, true},
        {"the sun turned round the zenith", directionAt(30.0f, 95.0f), 500.0f, true},
        {"the camera a hundred metres higher", start, 600.0f, true},
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.name);
        atmosphere->update(start, 500.0f);
        const int before = atmosphere->skyViewComputations();
        atmosphere->update(change.sun, change.altitude);
        EXPECT_EQ(atmosphere->skyViewComputations() - before, change.remakes ? 1 : 0);
    }
}

TEST_F(AtmosphereTest, TablePassesAndTheSkyLeaveTheFramesState) {
    const SceneTarget target(8);
    for (DepthConvention convention : {DepthConvention::Standard, DepthConvention::Reversed}) {
        SCOPED_TRACE(convention == DepthConvention::Standard ? "standard depth" : "reversed depth");
        applyDepthConvention(convention);
        setSun(20.0f, 0.0f);
        target.begin();
        glViewport(1, 2, 5, 6);
        // The frame would go on drawing into a table.
        const auto expectFramesTarget = [&target]() {
            GLint framebuffer = 0, viewport[4] = {};
            glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &framebuffer);
            glGetIntegerv(GL_VIEWPORT, viewport);
            EXPECT_EQ(framebuffer, static_cast<GLint>(target.fbo));
            EXPECT_EQ(std::vector<GLint>(viewport, viewport + 4), (std::vector<GLint>{1, 2, 5, 6}));
        };
        const int before = atmosphere->skyViewComputations();
        setSun(20.0f, 10.0f);
        EXPECT_EQ(atmosphere->skyViewComputations(), before + 1);
        expectFramesTarget();
        { const Atmosphere madeInTheFrame; }
        expectFramesTarget();
        glViewport(0, 0, target.side, target.side);
        // Ground drawn before the sky, at pixel (0, 0) alone: grey at half the depth.
        glEnable(GL_SCISSOR_TEST);
        glScissor(0, 0, 1, 1);
        glClearColor(0.5f, 0.5f, 0.5f, 1.0f);
        glClearDepth(0.5);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glDisable(GL_SCISSOR_TEST);
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        applyDepthConvention(convention);
        GLint depthFunction = 0;
        glGetIntegerv(GL_DEPTH_FUNC, &depthFunction);
        atmosphere->drawSky(viewTowards(directionAt(10.0f, 0.0f)), perspective(1.0f, 1.0f, 0.1f, 1000.0f));
        EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
        GLint depthFunctionAfter = 0;
        GLboolean depthWriting = GL_FALSE;
        glGetIntegerv(GL_DEPTH_FUNC, &depthFunctionAfter);
        glGetBooleanv(GL_DEPTH_WRITEMASK, &depthWriting);
        EXPECT_EQ(depthFunctionAfter, depthFunction);
        EXPECT_TRUE(depthWriting);
        // The sky shades only what the ground left, and writes no depth that would hide the
        // terrain drawn after it.
        const std::vector<float> colour = target.read(0);
        EXPECT_EQ(colour[0], 0.5f) << "the ground before the sky stays";
        EXPECT_NE(colour[(size_t(4) * target.side + 3) * 4], 0.0f) << "the sky where there is no ground";
        glBindFramebuffer(GL_READ_FRAMEBUFFER, target.fbo);
        float depth = -1.0f;
        glReadPixels(3, 4, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
        EXPECT_EQ(depth, convention == DepthConvention::Standard ? 1.0f : 0.0f);
    }
    applyDepthConvention(DepthConvention::Standard);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

TEST_F(AtmosphereTest, SunlightAtGroundFollowsTheSun) {
    setSun(60.0f, 180.0f);
    const Rgb noon = evaluate(Probe::SunlightAtGround);
    // A sun of the wrong illuminance for the terrain's units, which light with (1, 0.98, 0.9) today.
    EXPECT_NEAR(noon.r, 1.0f, 0.1f);
    EXPECT_NEAR(noon.g, 0.98f, 0.1f);
    EXPECT_NEAR(noon.b, 0.9f, 0.1f);
    // Thinner air above: more light.
    const Rgb high = evaluate(Probe::SunlightAtGround, {{}, {}, 0.0f, 3000.0f});
    EXPECT_GT(high.b, noon.b);

    struct Low {
        const char* name;
        float sunElevation;
        std::function<void(const Rgb& light)> check;
    };
    const Low lows[] = {
        // Sunlight not reddened by the long path.
        {"setting sun", 2.0f, [&](const Rgb& light) { EXPECT_GT(light.r / light.b, 3.0f * (noon.r / noon.b)); }},
        // The disc cut by the horizon at once instead of over its height.
        {"half-set sun", -0.1f, [](const Rgb& light) { EXPECT_GT(light.r, 0.0f); }},
        // Sunlight through the ground.
        {"set sun", -0.5f, [](const Rgb& light) { EXPECT_EQ(luminance(light), 0.0f); }},
    };
    for (const Low& low : lows) {
        SCOPED_TRACE(low.name);
        setSun(low.sunElevation, 180.0f);
        low.check(evaluate(Probe::SunlightAtGround));
    }
}

TEST_F(AtmosphereTest, SkyIrradianceIsTheSkysLightOnTheGround) {
    setSun(60.0f, 180.0f);
    const Rgb noon = evaluate(Probe::SkyIrradiance);
    const Rgb sunlight = evaluate(Probe::SunlightAtGround);
    // A skylight of the wrong colour, or of the display-brightened sky rather than the true one.
    EXPECT_GT(noon.b, noon.r);
    EXPECT_GT(luminance(noon), 0.05f * luminance(sunlight));
    EXPECT_LT(luminance(noon), 0.5f * luminance(sunlight));
    // A table left from the day, not made with the sky-view table.
    setSun(-18.0f, 180.0f);
    EXPECT_LT(luminance(evaluate(Probe::SkyIrradiance)), 1e-3f);
}

TEST_F(AtmosphereTest, AerialPerspectiveFadesDistantGroundIntoTheSky) {
    setSun(30.0f, 180.0f, 300.0f);
    const vec3 ground{0.2f, 0.3f, 0.1f};
    for (const vec3& direction : {directionAt(0.0f, 90.0f), directionAt(-20.0f, 180.0f), directionAt(15.0f, 0.0f)}) {
        const Rgb sky = evaluate(Probe::SkyRadiance, {direction, {}, 0.0f, 0.0f});
        // Air in front of the nearest ground.
        const Rgb near = evaluate(Probe::AerialPerspective, {direction, ground, 0.0f});
        EXPECT_NEAR(near.r, ground.x, 1e-5f);
        EXPECT_NEAR(near.g, ground.y, 1e-5f);
        EXPECT_NEAR(near.b, ground.z, 1e-5f);
        // Distant ground that stands out against the sky behind it.
        if (direction.y <= 0.0f) {
            const Rgb far = evaluate(Probe::AerialPerspective, {direction, ground, 2.0e6f});
            EXPECT_NEAR(far.r, sky.r, 0.02f * sky.r);
            EXPECT_NEAR(far.b, sky.b, 0.02f * sky.b);
        }
        // Haze that does not grow with the distance.
        float previous = 0.0f;
        for (float distance : {1000.0f, 5000.0f, 20000.0f}) {
            const float haze = evaluate(Probe::AerialPerspective, {direction, {}, distance}).b;
            EXPECT_GT(haze, previous);
            EXPECT_LT(haze, sky.b);
            previous = haze;
        }
    }
}

}  // namespace

// The tables that depend on the atmosphere alone are kept between runs: a kept file must give the
// very sky that computing gives, and one that is cut short or was made by other programs or another
// driver must be computed again and replaced, never read.
TEST(AtmosphereTables, AreReadWhereKeptAndComputedAgainWhereTheFileIsNotTheirs) {
    TempFolder folder;
    const std::string kept = folder / "atmosphere-tables";
    const vec3 sun = directionAt(12.0f, 0.0f);
    Atmosphere computed(sun, 0.0f);
    const std::vector<std::pair<float, float>> views = {{2.0f, 0.0f}, {30.0f, 90.0f}, {80.0f, 180.0f}};
    const auto sameSky = [&](Atmosphere& atmosphere) {
        for (const auto& [elevation, azimuth] : views) {
            const Rgb expected = skyTowards(computed, elevation, azimuth), seen = skyTowards(atmosphere, elevation, azimuth);
            if (expected.r != seen.r || expected.g != seen.g || expected.b != seen.b) return false;
        }
        return true;
    };
    uintmax_t wholeSize = 0;
    struct Case {
        const char* name;
        std::function<void()> beforehand;
        bool read;
    };
    const Case cases[] = {
        {"none kept yet", [] {}, false},
        {"kept by the run before", [] {}, true},
        {"cut short", [&] { std::filesystem::resize_file(kept, wholeSize - 1); }, false},
        {"made by other programs", [&] {
             std::fstream file(kept, std::ios::in | std::ios::out | std::ios::binary);
             file.seekp(std::string("KELTA atmosphere tables ").size());
             file.put('#');
         }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.beforehand();
        Atmosphere atmosphere(sun, 0.0f, folder.path);
        EXPECT_EQ(atmosphere.fixedTablesWereKept(), c.read);
        EXPECT_TRUE(sameSky(atmosphere));
        ASSERT_TRUE(std::filesystem::exists(kept));
        if (wholeSize == 0) wholeSize = std::filesystem::file_size(kept);
        EXPECT_EQ(std::filesystem::file_size(kept), wholeSize) << "not replaced";
    }
}
