// The terrain and the sky drawn into a small float render target and read back: programs per
// shading mode, the uploaded mesh, the uniforms of a draw, and what each mode shows.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <limits>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "GlTestContext.h"
#include "SceneTarget.h"
#include "ShaderSources.h"
#include "app/Application.h"
#include "app/Callbacks.h"
#include "app/FileOpening.h"
#include "app/ViewSettings.h"
#include "io/Bitmap.h"
#include "io/BitmapWriter.h"
#include "gpu/DepthConvention.h"
#include "gpu/Texture.h"
#include "io/Measurement.h"
#include "light/Atmosphere.h"
#include "light/Sunlight.h"
#include "math/Camera.h"
#include "post/FinalProcessingEffect.h"
#include "post/Framebuffer.h"
#include "scene/GroundPath.h"
#include "scene/SkyShader.h"
#include "scene/Skydome.h"
#include "scene/Terrain.h"
#include "scene/TerrainFullMesh.h"
#include "ui/PathMeasuring.h"
#include "scene/TerrainLod.h"
#include "scene/TerrainMesh.h"
#include "scene/TerrainShader.h"
#include "scene/TerrainStream.h"
#include "tests/GdalTestRasters.h"

namespace {

using gltest::SceneTarget;

constexpr int SIZE = 64;


const float* pixel(const std::vector<float>& image, int x, int y) { return &image[(size_t(y) * SIZE + x) * 4]; }

float srgbToLinear(uint8_t value) {
    const float c = value / 255.0f;
    return c <= 0.04045f ? c / 12.92f : std::pow((c + 0.055f) / 1.055f, 2.4f);
}

// The six terrain programs and the sky, built once for all tests as start-up builds them, and lent
// to the application by each test.
struct SharedScene {
    std::unique_ptr<TerrainShader> modes[5];
    std::unique_ptr<TerrainShader> initial;
    std::unique_ptr<Skydome> skydome;

    // Exchanges the objects with the application's: lends them, and takes them back.
    void swapWith(Application& app) {
        for (int k = 0; k < 5; ++k) std::swap(modes[k], app.terrainShaders[k]);
        std::swap(initial, app.initialTerrainShader);
        std::swap(skydome, app.skydome);
    }
};

SharedScene& sharedScene() {
    static SharedScene* scene = nullptr;
    if (!scene) {
        scene = new SharedScene();
        Application& app = gltest::application();
        for (int mode = 1; mode <= 5; ++mode) {
            app.terrainMode = mode;
            scene->modes[mode - 1] = std::make_unique<TerrainShader>();
        }
        scene->initial = std::make_unique<TerrainShader>();
        scene->skydome = std::make_unique<Skydome>();
    }
    return *scene;
}

// What the tests change of the application, put back after each.
struct SavedState {
    TerrainOptions terrainOptions;
    DepthConvention depthConvention = DepthConvention::Standard;
    mat4 projection;
    mat4 modelview;
    int terrainMode = 0;
    double time = 0.0;
    int argc = 0;
    char** argv = nullptr;

    static SavedState of(const Application& app) {
        return {app.terrainOptions, app.depthConvention, app.projection, app.modelview,
                app.terrainMode,    app.time,            app.argc,       app.argv};
    }
    void restore(Application& app) const {
        app.terrainOptions = terrainOptions;
        app.depthConvention = depthConvention;
        app.projection = projection;
        app.modelview = modelview;
        app.terrainMode = terrainMode;
        app.time = time;
        app.argc = argc;
        app.argv = argv;
    }
};

class Scene : public ::testing::Test {
protected:
    static std::string mapFolder;
    static std::string previousDirectory;

    static void SetUpTestSuite() {
        char folder[] = "/tmp/kelta-scene-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        mapFolder = folder;
        previousDirectory = std::filesystem::current_path().string();
        // The material and sky images are named relative to the working directory.
        ASSERT_EQ(chdir(KELTA_DATA_DIR), 0);
    }

    static void TearDownTestSuite() {
        std::filesystem::remove_all(mapFolder);
        EXPECT_EQ(chdir(previousDirectory.c_str()), 0);
    }

    void SetUp() override {
        Application& app = gltest::application();
        saved = SavedState::of(app);
        sharedScene().swapWith(app);
        app.terrainMode = 5;
        app.time = 0.0;
        app.projection = perspective(50.0f * 3.1415927f / 180.0f, 1.0f, 0.01f, 600.0f);
    }

    // The terrains made here are released (their GL objects, readers and memory), and the
    // application keeps nothing of this fixture's.
    void TearDown() override {
        Application& app = gltest::application();
        app.terrain.reset();
        earlierTerrains.clear();
        app.camera.reset();
        sharedScene().swapWith(app);
        saved.restore(app);
    }

    // Writes a grey height map whose pixel (j, i), i counted from the bottom row, has value(j, i).
    static std::string writeMap(const std::string& name, int width, int height,
                                const std::function<uint8_t(int, int)>& value) {
        std::vector<uint8_t> grey(size_t(width) * height);
        for (int i = 0; i < height; ++i)
            for (int j = 0; j < width; ++j) grey[size_t(i) * width + j] = value(j, i);
        const std::string path = mapFolder + "/" + name;
        EXPECT_TRUE(writeFile(path, encodeGreyBitmap8(width, height, grey.data())));
        return path;
    }

    // Builds a terrain as start-up does, from the given command-line arguments.
    Terrain* makeTerrain(const std::vector<std::string>& args) {
        arguments = args;
        arguments.insert(arguments.begin(), "kelta");
        argumentPointers.clear();
        for (std::string& argument : arguments) argumentPointers.push_back(&argument[0]);
        argumentPointers.push_back(nullptr);
        Application& app = gltest::application();
        app.argc = static_cast<int>(arguments.size());
        app.argv = argumentPointers.data();
        // Tests compare terrains: the one made before stays alive beside the new one.
        if (app.terrain) earlierTerrains.push_back(std::move(app.terrain));
        app.terrain = std::make_unique<Terrain>(app.initialTerrainShader.get());
        return app.terrain.get();
    }

    // Builds a terrain as a map opened while the program runs is: from the opened map and options
    // of its own, whatever the command line and the application's options say.
    Terrain* makeTerrainFrom(const std::string& path, const TerrainOptions& options) {
        std::string message;
        std::unique_ptr<HeightMapFile> map = HeightMapFile::open(path, elevationOptionsOf(options), message);
        EXPECT_TRUE(map) << message;
        TerrainArguments arguments;
        arguments.heightMapPath = path;
        Application& app = gltest::application();
        if (app.terrain) earlierTerrains.push_back(std::move(app.terrain));
        app.terrain = std::make_unique<Terrain>(app.initialTerrainShader.get(), std::move(map), arguments, options);
        return app.terrain.get();
    }

    // Looks from eye along direction (up is -z for views straight up or down).
    void look(const vec3& eye, const vec3& direction, const vec3& up = {0.0f, 1.0f, 0.0f}) {
        camera.position = eye;
        gltest::application().modelview = lookAt(eye, eye + direction, up);
    }

    // Selects the mode and its program as the mode keys do, and draws the terrain alone.
    std::vector<float> drawTerrain(Terrain& terrain, int mode, int output = 0) {
        Application& app = gltest::application();
        app.terrainMode = mode;
        terrain.shader = app.terrainShaders[mode - 1].get();
        target.begin();
        terrain.draw();
        return target.read(output);
    }

    // The camera the application reads, made for each test.
    static Camera& newCamera() {
        Application& app = gltest::application();
        app.camera = std::make_unique<Camera>(0.0, 0.0);
        return *app.camera;
    }

    SavedState saved;
    Camera& camera = newCamera();
    std::vector<std::unique_ptr<Terrain>> earlierTerrains;
    SceneTarget target{SIZE};
    std::vector<std::string> arguments;
    std::vector<char*> argumentPointers;
};

std::string Scene::mapFolder;
std::string Scene::previousDirectory;

const vec3 DOWN{0.0f, -1.0f, 0.0f};
const vec3 UP{0.0f, 1.0f, 0.0f};
const vec3 NORTH{0.0f, 0.0f, -1.0f};

}  // namespace

TEST_F(Scene, EachModeBuildsItsProgramWithSharedAttributeLocations) {
    Application& app = gltest::application();
    for (TerrainShader* shader : {app.terrainShaders[0].get(), app.terrainShaders[1].get(), app.terrainShaders[2].get(),
                                   app.terrainShaders[3].get(), app.terrainShaders[4].get(), app.initialTerrainShader.get()}) {
        EXPECT_NE(shader->program, 0u);
        EXPECT_EQ(shader->positionLocation, 0);
        EXPECT_NE(shader->modelviewLocation, -1);
        EXPECT_NE(shader->projectionLocation, -1);
    }
    EXPECT_NE(app.terrainShaders[4]->program, app.initialTerrainShader->program);

    const TerrainShader& full = *app.initialTerrainShader;
    for (GLint location : {full.materialLocation, full.lightsLocation, full.texLocation, full.tLocation,
                           full.viewerPositionLocation, full.skyDataLocation, full.bloomThresholdLocation}) {
        EXPECT_NE(location, -1);
    }
    EXPECT_EQ(full.normalLocation, 1);
    EXPECT_EQ(full.textureLocation, 2);
    // The grey-height program reads neither fog nor threshold; their lookups yield -1.
    EXPECT_EQ(app.terrainShaders[2]->skyDataLocation, -1);
    EXPECT_EQ(app.terrainShaders[2]->bloomThresholdLocation, -1);

    const SkyShader& sky = *app.skydome->shader;
    EXPECT_EQ(sky.positionLocation, 0);
    EXPECT_EQ(sky.textureLocation, 2);
    // skyData is overwritten before use, so the compiler may drop it; the others must be there.
    for (GLint location : {sky.modelviewLocation, sky.projectionLocation, sky.texLocation}) {
        EXPECT_NE(location, -1);
    }
    EXPECT_EQ(app.skydome->vertexCount, 162);
    EXPECT_EQ(app.skydome->indexCount, 304);
}

TEST_F(Scene, GettersFollowTheCurrentMode) {
    Application& app = gltest::application();
    TerrainShader& shader = *gltest::application().initialTerrainShader;
    const struct {
        int mode;
        const char* vertex;
        const char* fragment;
    } table[] = {
        {1, glsl::terrainStaticVert, glsl::terrainWhiteFrag},   {2, glsl::terrainStaticVert, glsl::terrainWhiteFrag},
        {3, glsl::terrainStaticVert, glsl::terrainHeightFrag},  {4, glsl::terrainStaticVert, glsl::terrainLightingFrag},
        {5, glsl::terrainAnimatedVert, glsl::terrainFullFrag},  {0, glsl::terrainStaticVert, glsl::terrainWhiteFrag},
        {9, glsl::terrainStaticVert, glsl::terrainWhiteFrag},
    };
    for (const auto& row : table) {
        app.terrainMode = row.mode;
        EXPECT_EQ(shader.getVertexSource(), row.vertex) << "mode " << row.mode;
        EXPECT_EQ(shader.getFragmentSource(), row.fragment) << "mode " << row.mode;
    }
}

TEST_F(Scene, UploadsTheMeshAndPlacesTheCamera) {
    const std::string path = writeMap("ramp.bmp", 5, 3, [](int j, int i) { return static_cast<uint8_t>(40 * j + i); });
    Terrain& terrain = *makeTerrain({path, "2", "40"});
    EXPECT_EQ(terrain.gridWidth, 5);
    EXPECT_EQ(terrain.gridHeight, 3);
    EXPECT_EQ(terrain.horizontalScale, 2.0f);
    EXPECT_EQ(terrain.heightScale, 40.0f);
    EXPECT_EQ(camera.position.x, 0.0f);
    EXPECT_EQ(camera.position.y, 40.0f);
    EXPECT_EQ(camera.position.z, 0.0f);
    EXPECT_EQ(camera.direction.x, 0.70710677f);
    EXPECT_EQ(camera.direction.y, 0.0f);
    EXPECT_EQ(camera.direction.z, -0.70710677f);

    HeightSamples map{5, 3, 255, {}, {}, {}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 5; ++j) map.samples.push_back(static_cast<uint16_t>(40 * j + i));
    std::vector<float> expectedVertices(5 * 3 * TERRAIN_VERTEX_FLOATS);
    buildTerrainVertices(map, imageMapGeometry(2.0f, 40.0f, 255), expectedVertices.data());
    std::vector<float> vertices(expectedVertices.size());
    ASSERT_NE(terrain.mesh, nullptr);
    glBindBuffer(GL_ARRAY_BUFFER, terrain.mesh->vbo);
    glGetBufferSubData(GL_ARRAY_BUFFER, 0, vertices.size() * sizeof(float), vertices.data());
    EXPECT_EQ(vertices, expectedVertices);

    std::vector<uint32_t> indices(terrainIndexCount(5, 3));
    glBindVertexArray(terrain.mesh->vao);
    glGetBufferSubData(GL_ELEMENT_ARRAY_BUFFER, 0, indices.size() * sizeof(uint32_t), indices.data());
    EXPECT_EQ(indices, (std::vector<uint32_t>{0, 0, 5, 1, 6, 2, 7, 3, 8, 4, 9, 9, 5, 5, 10, 6, 11, 7, 12, 8, 13, 9, 14, 14}));

    // Position, normal and texture coordinate interleaved in 32-byte records.
    const GLint sizes[3] = {3, 3, 2};
    const uintptr_t offsets[3] = {0, 12, 24};
    for (GLuint location = 0; location < 3; ++location) {
        GLint enabled = 0, size = 0, stride = 0;
        void* offset = nullptr;
        glGetVertexAttribiv(location, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &enabled);
        glGetVertexAttribiv(location, GL_VERTEX_ATTRIB_ARRAY_SIZE, &size);
        glGetVertexAttribiv(location, GL_VERTEX_ATTRIB_ARRAY_STRIDE, &stride);
        glGetVertexAttribPointerv(location, GL_VERTEX_ATTRIB_ARRAY_POINTER, &offset);
        EXPECT_TRUE(enabled);
        EXPECT_EQ(size, sizes[location]);
        EXPECT_EQ(stride, 32);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(offset), offsets[location]);
    }
    glBindVertexArray(0);
}

TEST_F(Scene, DrawSetsEveryUniformWhateverTheMode) {
    Application& app = gltest::application();
    const std::string path = writeMap("flat.bmp", 8, 6, [](int, int) { return 0; });
    Terrain& terrain = *makeTerrain({path, "2"});
    terrain.bloomThreshold = 0.45f;
    app.time = 12.5;
    look({3.0f, 7.0f, -2.0f}, DOWN, NORTH);
    // The full program has every uniform; drawing it as points (mode 1) must still set them all.
    app.terrainMode = 1;
    terrain.shader = gltest::application().initialTerrainShader.get();
    target.begin();
    terrain.draw();

    const TerrainShader& shader = *gltest::application().initialTerrainShader;
    auto uniform = [&](GLint location, int count) {
        std::vector<float> values(16);
        glGetUniformfv(shader.program, location, values.data());
        values.resize(count);
        return values;
    };
    EXPECT_EQ(uniform(shader.modelviewLocation, 16), std::vector<float>(app.modelview.data(), app.modelview.data() + 16));
    EXPECT_EQ(uniform(shader.projectionLocation, 16), std::vector<float>(app.projection.data(), app.projection.data() + 16));
    GLint unit = -1;
    glGetUniformiv(shader.program, shader.texLocation, &unit);
    EXPECT_EQ(unit, 2);
    EXPECT_EQ(uniform(shader.tLocation, 1), std::vector<float>({12.5f}));
    EXPECT_EQ(uniform(shader.viewerPositionLocation, 3), std::vector<float>({3.0f, 7.0f, -2.0f}));
    EXPECT_EQ(uniform(shader.skyDataLocation, 4), std::vector<float>({1.0f, 1.0f, 1.0f, 350.0f}));
    EXPECT_EQ(uniform(shader.materialLocation, 9),
              std::vector<float>({0.05f, 0.05f, 0.05f, 1.0f, 1.0f, 1.0f, 1.5f, 1.5f, 1.5f}));
    // The light stands 50 units over the middle of the 8 x 6 grid spaced 2 apart.
    EXPECT_EQ(uniform(shader.lightsLocation, 9), std::vector<float>({1.0f, 0.98f, 0.9f, 8.0f, 50.0f, -6.0f, 0.0f, 0.0f, 0.0f}));
    EXPECT_EQ(uniform(shader.bloomThresholdLocation, 1), std::vector<float>({0.45f}));

    GLint program = -1, vertexArray = -1, activeUnit = 0, arrayTexture = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &vertexArray);
    glGetIntegerv(GL_ACTIVE_TEXTURE, &activeUnit);
    glGetIntegerv(GL_TEXTURE_BINDING_2D_ARRAY, &arrayTexture);
    EXPECT_EQ(program, 0);
    EXPECT_EQ(vertexArray, 0);
    EXPECT_EQ(activeUnit, GL_TEXTURE2);
    EXPECT_EQ(static_cast<GLuint>(arrayTexture), terrain.atlas->id);
}

TEST_F(Scene, HeightModeShowsHeightOverTwentyAsGrey) {
    // Value 10 at a height scale of 255 is height 10, which is grey 0.5 whatever the scale.
    const std::string path = writeMap("ten.bmp", 16, 16, [](int, int) { return 10; });
    Terrain& terrain = *makeTerrain({path, "1", "255"});
    look({7.5f, 20.0f, -7.5f}, DOWN, NORTH);
    const std::vector<float> image = drawTerrain(terrain, 3);
    // Culling is on: the strip must face up to be seen from above at all.
    for (int y = 0; y < SIZE; y += 7) {
        for (int x = 0; x < SIZE; x += 7) {
            const float* p = pixel(image, x, y);
            EXPECT_NEAR(p[0], 0.5f, 1e-4f) << x << ", " << y;
            EXPECT_NEAR(p[1], 0.5f, 1e-4f);
            EXPECT_NEAR(p[2], 0.5f, 1e-4f);
        }
    }
    // Seen from below, the terrain is culled away.
    look({7.5f, -20.0f, -7.5f}, UP, NORTH);
    const std::vector<float> below = drawTerrain(terrain, 3);
    EXPECT_EQ(pixel(below, SIZE / 2, SIZE / 2)[0], 0.0f);
}

TEST_F(Scene, PointModesDrawEachVertexAsOnePixel) {
    // A 4 x 4 grid spaced 10 apart: sixteen points, far apart on screen.
    const std::string path = writeMap("points.bmp", 4, 4, [](int, int) { return 0; });
    Terrain& terrain = *makeTerrain({path, "10"});
    look({15.0f, 60.0f, -15.0f}, DOWN, NORTH);
    for (int mode : {1, 2}) {
        // A large point size left by earlier drawing must not leak in.
        glPointSize(6.0f);
        const std::vector<float> image = drawTerrain(terrain, mode);
        int white = 0, other = 0;
        for (int k = 0; k < SIZE * SIZE; ++k) {
            const float* p = &image[size_t(k) * 4];
            if (p[0] == 1.0f && p[1] == 1.0f && p[2] == 1.0f) {
                ++white;
            } else if (p[0] != 0.0f || p[1] != 0.0f || p[2] != 0.0f) {
                ++other;
            }
        }
        EXPECT_EQ(white, 16) << "mode " << mode;
        EXPECT_EQ(other, 0) << "mode " << mode;
    }
    // The same grid as a strip covers the area between the vertices.
    const std::vector<float> strip = drawTerrain(terrain, 4);
    EXPECT_GT(pixel(strip, SIZE / 2, SIZE / 2)[0], 0.5f);
}

TEST_F(Scene, LevelOfDetailDrawsTheFullMeshSurfaceInEveryMode) {
    const std::string path = writeMap("hill.bmp", 40, 40, [](int j, int i) {
        return static_cast<uint8_t>(std::max(0, 200 - 6 * (std::abs(j - 20) + std::abs(i - 20))));
    });
    Application& app = gltest::application();
    Terrain& full = *makeTerrain({path, "1", "10"});
    app.terrainOptions.levelOfDetail = true;
    Terrain& detailed = *makeTerrain({path, "1", "10"});
    app.terrainOptions.levelOfDetail = false;
    ASSERT_NE(detailed.lod, nullptr);
    look({19.5f, 30.0f, -19.5f}, DOWN, NORTH);
    for (int mode = 1; mode <= 5; ++mode) {
        const std::vector<float> expected = drawTerrain(full, mode);
        const std::vector<float> drawn = drawTerrain(detailed, mode);
        EXPECT_GT(detailed.trianglesPerFrame(), 0u) << "mode " << mode;
        if (mode < 3) continue;  // the point modes show the level-of-detail vertices, not the mesh's
        int differing = 0;
        for (size_t k = 0; k < drawn.size(); ++k) differing += std::fabs(drawn[k] - expected[k]) > 0.02f;
        EXPECT_LE(differing, static_cast<int>(drawn.size() / 100)) << "mode " << mode;
    }
}

TEST_F(Scene, LevelOfDetailLeavesNoCracksWhereLevelsMeet) {
    // Rough noise: any vertex left off the edge of a coarser neighbour opens a gap.
    std::mt19937 random(5);
    const std::string path = writeMap("rough.bmp", 513, 513, [&](int, int) { return static_cast<uint8_t>(random()); });
    Application& app = gltest::application();
    app.terrainOptions.levelOfDetail = true;
    // A budget so large that each level is drawn as near as its nodes allow.
    app.terrainOptions.lodErrorPixels = 1000.0f;
    Terrain& terrain = *makeTerrain({path, "1", "10"});
    // Obliquely down from inside the map, so that the terrain fills the whole view.
    look({40.0f, 60.0f, -40.0f}, normalize(vec3{1.0f, -1.0f, -1.0f}));

    app.terrainMode = 3;  // grey: never the magenta of the background
    terrain.shader = app.terrainShaders[2].get();
    // Large enough for the nearer levels' gaps to cover pixel centres.
    const SceneTarget large(256);
    large.begin();
    glClearColor(1, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    terrain.draw();
    const std::vector<float> image = large.read(0);
    int background = 0;
    for (size_t k = 0; k < image.size(); k += 4) {
        background += image[k] == 1.0f && image[k + 1] == 0.0f && image[k + 2] == 1.0f;
    }
    EXPECT_EQ(background, 0);

    LodSelection selection;
    terrain.lod->tree.select(camera.position, Frustum::fromClipMatrix(app.projection * app.modelview), selection);
    std::set<float> levels;
    for (const LodInstance& node : selection.wholeNodes) levels.insert(node.level);
    for (const LodInstance& node : selection.quarterNodes) levels.insert(node.level);
    EXPECT_GE(levels.size(), 3u) << "the view must show levels meeting";
}

TEST_F(Scene, LevelOfDetailLeavesTheUnpackAlignmentAsItFoundIt) {
    const HeightSamples map{5, 5, 255, std::vector<uint16_t>(5 * 5, 0), std::vector<uint8_t>(5 * 5, 0), {}};
    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    std::string failure;
    ASSERT_TRUE(TerrainLod::create(map, imageMapGeometry(1.0f, 20.0f, 255), 1.0f, std::nullopt, failure)) << failure;
    GLint alignment = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);  // GL's default, for the tests that follow
    EXPECT_EQ(alignment, 8);
}

// The sanitizers reserve more address space than any limit that would leave the mesh out.
#if !defined(__SANITIZE_ADDRESS__)
TEST_F(Scene, AMeshThatCannotBeAllocatedGivesWayToLevelOfDetail) {
    const std::string path = writeMap("large.bmp", 4096, 4096, [](int j, int i) { return static_cast<uint8_t>((j ^ i) & 63); });
    EXPECT_EXIT(
        {
            // Room for the samples and their 32 MB texture, none for the mesh's 600 MB of buffers.
            std::ifstream statm("/proc/self/statm");
            unsigned long long pages = 0;
            statm >> pages;
            const rlim_t room = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (300ull << 20);
            rlimit limit;
            limit.rlim_cur = limit.rlim_max = room;
            setrlimit(RLIMIT_AS, &limit);
            gltest::ExpectedGlErrors outOfMemory;
            Terrain& terrain = *makeTerrain({path});
            std::exit(terrain.lod && !terrain.mesh ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
}
#endif

TEST_F(Scene, DiagnosticModesWriteNoBloom) {
    const std::string path = writeMap("bright.bmp", 16, 16, [](int, int) { return 255; });
    Terrain& terrain = *makeTerrain({path, "1", "10"});
    look({7.5f, 20.0f, -7.5f}, DOWN, NORTH);
    Application& app = gltest::application();
    for (int mode = 1; mode <= 4; ++mode) {
        app.terrainMode = mode;
        terrain.shader = app.terrainShaders[mode - 1].get();
        target.begin();
        // Whatever the bright-pass target held, the terrain leaves opaque black where it is drawn.
        const float stale[4] = {0.7f, 0.2f, 0.9f, 0.5f};
        glClearBufferfv(GL_COLOR, 1, stale);
        terrain.draw();
        const std::vector<float> scene = target.read(0);
        const std::vector<float> bright = target.read(1);
        for (int k = 0; k < SIZE * SIZE; ++k) {
            const bool covered = scene[size_t(k) * 4] != 0.0f;
            if (!covered) continue;
            const float* b = &bright[size_t(k) * 4];
            ASSERT_TRUE(b[0] == 0.0f && b[1] == 0.0f && b[2] == 0.0f && b[3] == 1.0f)
                << "mode " << mode << " pixel " << k << ": " << b[0] << " " << b[1] << " " << b[2] << " " << b[3];
        }
    }
}

TEST_F(Scene, FullModeShowsWaterAtHeightZeroAndSnowHighUp) {
    const std::string waterPath = writeMap("water.bmp", 16, 16, [](int, int) { return 0; });
    Terrain& water = *makeTerrain({waterPath});
    // A low, grazing view keeps the light's reflection out of the picture.
    look({7.5f, 0.8f, 0.0f}, normalize(vec3{0.0f, -0.8f, -4.0f}));
    const std::vector<float> waterImage = drawTerrain(water, 5);
    const float* w = pixel(waterImage, SIZE / 2, SIZE / 2);
    // Three quarters of the fixed deep blue (0.19, 0.26, 0.43) over the water texture.
    EXPECT_GT(w[2], w[1]);
    EXPECT_GT(w[1], w[0]);
    EXPECT_GT(w[2], 0.1f);

    const std::string snowPath = writeMap("snow.bmp", 16, 16, [](int, int) { return 255; });
    Terrain& snow = *makeTerrain({snowPath});
    look({7.5f, 24.0f, -7.5f}, DOWN, NORTH);
    const std::vector<float> snowImage = drawTerrain(snow, 5);
    const float* s = pixel(snowImage, SIZE / 2, SIZE / 2);
    EXPECT_GT(s[0] + s[1] + s[2], 2.0f * (w[0] + w[1] + w[2]));
    EXPECT_LT(std::fabs(s[0] - s[2]), 0.25f * s[2]);

    // Lit flat ground under the light is bright enough to reach the bright-pass output.
    const std::vector<float> bright = drawTerrain(snow, 5, 1);
    const float* b = pixel(bright, SIZE / 2, SIZE / 2);
    EXPECT_FLOAT_EQ(b[0], s[0]);
    EXPECT_EQ(b[3], 1.0f);
}

TEST_F(Scene, LightingModeLightsFlatGroundUnderTheLight) {
    const std::string path = writeMap("lit.bmp", 16, 16, [](int, int) { return 0; });
    Terrain& terrain = *makeTerrain({path});
    look({8.0f, 10.0f, -8.0f}, DOWN, NORTH);
    const std::vector<float> image = drawTerrain(terrain, 4);
    const float* p = pixel(image, SIZE / 2, SIZE / 2);
    // Ambient 0.05 plus nearly full diffuse in the warm light colour (1, 0.98, 0.9).
    EXPECT_NEAR(p[0], 1.05f, 0.02f);
    EXPECT_NEAR(p[2], 0.95f, 0.02f);
}

TEST_F(Scene, SkyShowsTheImageCentreAtTheZenithWhereverTheCameraIs) {
    Bitmap sky;
    ASSERT_TRUE(sky.load("Textures/Skydome.bmp")) << sky.message;
    float expected[3] = {};
    for (int y = sky.height / 2 - 2; y < sky.height / 2 + 2; ++y)
        for (int x = sky.width / 2 - 2; x < sky.width / 2 + 2; ++x)
            for (int c = 0; c < 3; ++c) expected[c] += srgbToLinear(sky.pixels[(size_t(y) * sky.width + x) * 3 + c]) / 16;

    Skydome& dome = *gltest::application().skydome;
    for (const vec3& eye : {vec3{0.0f, 20.0f, 0.0f}, vec3{300.0f, -50.0f, 170.0f}}) {
        look(eye, UP, NORTH);
        target.begin();
        dome.draw();
        const std::vector<float> colour = target.read(0);
        const float* p = pixel(colour, SIZE / 2, SIZE / 2);
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(p[c], expected[c], 0.03f) << "channel " << c;
        // The sky never reaches the fixed bright-pass threshold of 1.
        const std::vector<float> bright = target.read(1);
        const float* b = pixel(bright, SIZE / 2, SIZE / 2);
        EXPECT_EQ(b[0] + b[1] + b[2], 0.0f);
        EXPECT_EQ(b[3], 1.0f);
    }
}

TEST_F(Scene, SkyDoesNotMoveWithTheCamera) {
    Skydome& dome = *gltest::application().skydome;
    const vec3 direction = normalize(vec3{1.0f, 0.2f, -0.4f});
    std::vector<std::vector<float>> images;
    for (const vec3& eye : {vec3{0.0f, 20.0f, 0.0f}, vec3{250.0f, -40.0f, 130.0f}, vec3{-90.0f, 400.0f, -600.0f}}) {
        look(eye, direction);
        target.begin();
        dome.draw();
        images.push_back(target.read(0));
    }
    EXPECT_GT(pixel(images[0], SIZE / 2, SIZE - 1)[2], 0.1f);  // sky in view, not the clear colour
    for (size_t k = 1; k < images.size(); ++k) {
        int differing = 0;
        for (size_t n = 0; n < images[0].size(); ++n) differing += std::fabs(images[k][n] - images[0][n]) > 0.02f;
        EXPECT_LE(differing, 4) << "eye " << k;
    }
}

TEST_F(Scene, ModeKeysSelectTheProgramsOnPressRepeatAndRelease) {
    Application& app = gltest::application();
    const std::string path = writeMap("keys.bmp", 16, 16, [](int, int) { return 255; });
    Terrain& terrain = *makeTerrain({path, "1", "10"});
    EXPECT_EQ(terrain.shader, app.initialTerrainShader.get());
    GLFWwindow* window = gltest::window();

    for (int mode = 1; mode <= 5; ++mode) {
        keyCallback(window, GLFW_KEY_1 + mode - 1, 0, GLFW_PRESS, 0);
        EXPECT_EQ(app.terrainMode, mode);
        EXPECT_EQ(terrain.shader, app.terrainShaders[mode - 1].get());
    }
    keyCallback(window, GLFW_KEY_2, 0, GLFW_REPEAT, 0);
    EXPECT_EQ(app.terrainMode, 2);
    // Pressing 4 while 3 is held, then releasing 3, leaves mode 3.
    keyCallback(window, GLFW_KEY_3, 0, GLFW_PRESS, 0);
    keyCallback(window, GLFW_KEY_4, 0, GLFW_PRESS, 0);
    keyCallback(window, GLFW_KEY_3, 0, GLFW_RELEASE, 0);
    EXPECT_EQ(app.terrainMode, 3);
    EXPECT_EQ(terrain.shader, app.terrainShaders[2].get());

    // What the key selected is what is drawn: height 10 as grey 0.5.
    look({7.5f, 20.0f, -7.5f}, DOWN, NORTH);
    target.begin();
    terrain.draw();
    EXPECT_NEAR(pixel(target.read(0), SIZE / 2, SIZE / 2)[0], 0.5f, 1e-4f);
}

namespace {

// An elevation map as an ASCII grid (which GDAL reads with its spacing), value(column, row) metres
// with row 0 at the bottom, and no data where value is NaN.
std::string writeElevationMap(const std::string& path, int width, int height, double columnMetres, double rowMetres,
                              const std::function<double(int, int)>& value) {
    std::ofstream file(path);
    file << "ncols " << width << "\nnrows " << height << "\nxllcorner 0\nyllcorner 0\ndx " << columnMetres
         << "\ndy " << rowMetres << "\nNODATA_value -9999\n";
    for (int row = height - 1; row >= 0; --row) {
        for (int column = 0; column < width; ++column) {
            const double metres = value(column, row);
            file << (std::isnan(metres) ? -9999.0 : metres) << (column + 1 < width ? " " : "\n");
        }
    }
    return path;
}

bool isClearColour(const float* p) { return p[0] == 1.0f && p[1] == 0.0f && p[2] == 1.0f; }

}  // namespace

TEST_F(Scene, HolesShowTheBackgroundInExactlyTheCellsThatTouchAVoid) {
    // Flat ground 1 m apart with a block, a single sample and a corner without data, seen from
    // straight above, so high that level of detail spans the holes with triangles 2 and 4 wide.
    const int width = 96, height = 80;
    const auto hasData = [](int c, int r) {
        return !((c >= 30 && c < 40 && r >= 20 && r < 30) || (c == 70 && r == 50) || (c == 0 && r == 0));
    };
    const std::string path = writeElevationMap(mapFolder + "/holes.asc", width, height, 1.0, 1.0,
                                               [&](int c, int r) { return hasData(c, r) ? 2.0 : std::nan(""); });
    Application& app = gltest::application();
    Terrain& full = *makeTerrain({path});
    app.terrainOptions.levelOfDetail = true;
    Terrain& detailed = *makeTerrain({path});
    app.terrainOptions.levelOfDetail = false;
    const float ground = camera.position.y;
    const vec3 eye{48.0f, 150.0f, -40.0f};
    look(eye, DOWN, NORTH);
    const int side = 256;
    LodSelection selection;
    detailed.lod->tree.setViewport(0.5f * side * app.projection[1][1], detailed.lod->errorPixels);
    detailed.lod->tree.select(eye, Frustum::fromClipMatrix(app.projection * app.modelview), selection);
    for (const LodInstance& node : selection.wholeNodes) ASSERT_GT(node.level, 0.0f) << "the view must be coarse";

    // The view is square and looks down with north up: pixel centres meet the ground on a grid.
    const float halfSpan = (eye.y - ground) / app.projection[1][1];
    const SceneTarget large(side);
    for (Terrain* terrain : {&full, &detailed}) {
        app.terrainMode = 3;
        terrain->shader = app.terrainShaders[2].get();
        large.begin();
        glClearColor(1, 0, 1, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glClearColor(0, 0, 0, 1);
        terrain->draw();
        const std::vector<float> image = large.read(0);
        int wrong = 0, inHoles = 0;
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x) {
                const float column = eye.x + ((x + 0.5f) / side * 2.0f - 1.0f) * halfSpan;
                const float row = -eye.z + ((y + 0.5f) / side * 2.0f - 1.0f) * halfSpan;
                // Pixels on a cell's edge may fall either way.
                const float alongX = column - std::floor(column), alongY = row - std::floor(row);
                if (std::min(alongX, 1.0f - alongX) < 0.05f || std::min(alongY, 1.0f - alongY) < 0.05f) continue;
                const int c = static_cast<int>(std::floor(column)), r = static_cast<int>(std::floor(row));
                const bool onMap = c >= 0 && r >= 0 && c < width - 1 && r < height - 1;
                const bool drawn =
                    onMap && hasData(c, r) && hasData(c + 1, r) && hasData(c, r + 1) && hasData(c + 1, r + 1);
                inHoles += onMap && !drawn;
                wrong += isClearColour(&image[(size_t(y) * side + x) * 4]) == drawn;
            }
        }
        EXPECT_GT(inHoles, 300);
        EXPECT_EQ(wrong, 0) << (terrain->lod ? "level of detail" : "full mesh");
    }
}

TEST_F(Scene, PointModesOfTheFullMeshLeaveOutSamplesWithoutData) {
    // 4 x 4 samples 10 units apart without data at one corner: fifteen points, far apart on screen.
    const std::string path = writeElevationMap(mapFolder + "/points.asc", 4, 4, 1.0, 1.0, [](int c, int r) {
        return c == 0 && r == 0 ? std::nan("") : 1.0;
    });
    Terrain& terrain = *makeTerrain({path, "10"});
    look({15.0f, 60.0f, -15.0f}, DOWN, NORTH);
    const std::vector<float> image = drawTerrain(terrain, 1);
    int white = 0;
    for (int k = 0; k < SIZE * SIZE; ++k) white += image[size_t(k) * 4] == 1.0f;
    EXPECT_EQ(white, 15);
    EXPECT_EQ(pixel(image, 11, 11)[0], 0.0f) << "the point without data";
}

TEST_F(Scene, LevelOfDetailDrawsElevationMapsWithHolesAsTheFullMeshInEveryMode) {
    // Lowland hills from the sea up to 600 m, rows further apart than columns, with blocks and
    // scattered samples without data; seen obliquely.
    std::mt19937 random(29);
    const std::string path = writeElevationMap(mapFolder + "/hills.asc", 97, 97, 90.0, 120.0, [&](int column, int row) {
        const bool inBlock = column % 24 >= 8 && column % 24 < 14 && row % 24 >= 10 && row % 24 < 15;
        if (inBlock || random() % 60 == 0) return std::nan("");
        return 300.0 + 300.0 * std::sin(column / 7.0) * std::cos(row / 9.0);
    });
    Application& app = gltest::application();
    Terrain& full = *makeTerrain({path});
    app.terrainOptions.levelOfDetail = true;
    Terrain& detailed = *makeTerrain({path});
    app.terrainOptions.levelOfDetail = false;
    ASSERT_NE(detailed.lod, nullptr);
    look({-5.0f, 12.0f, 5.0f}, normalize(vec3{1.0f, -0.35f, -1.0f}));
    for (int mode = 3; mode <= 5; ++mode) {
        const std::vector<float> expected = drawTerrain(full, mode);
        const std::vector<float> drawn = drawTerrain(detailed, mode);
        int differing = 0;
        for (size_t k = 0; k < drawn.size(); k += 4) {
            differing += std::fabs(drawn[k] - expected[k]) > 0.03f || std::fabs(drawn[k + 1] - expected[k + 1]) > 0.03f ||
                         std::fabs(drawn[k + 2] - expected[k + 2]) > 0.03f;
        }
        const double share = double(differing) / (SIZE * SIZE);
        std::printf("mode %d: %.3f%% of pixels differ between level of detail and the full mesh\n", mode, 100.0 * share);
        EXPECT_LE(share, 0.01) << "mode " << mode;
    }
}

TEST_F(Scene, ElevationMapsStandAtTheirTrueProportionsAndRefuseAHeightScale) {
    // 100 m in the south-west corner up to 400 m in the north-east, 30 m a column, 45 m a row.
    const std::string path = writeElevationMap(mapFolder + "/ramp.asc", 8, 6, 30.0, 45.0, [](int column, int row) {
        return 100.0 + 300.0 * (column + row) / 12.0;
    });
    gltest::application().terrainOptions.exaggeration = 2.0;
    Terrain& terrain = *makeTerrain({path, "3"});
    // Columns 3 units apart, rows 4.5; 10 m a unit across, 5 m a unit up.
    EXPECT_EQ(terrain.geometry.columnSpacing, 3.0f);
    EXPECT_FLOAT_EQ(terrain.geometry.rowSpacing, 4.5f);
    EXPECT_FLOAT_EQ(terrain.geometry.metresPerHeight, 5.0f);
    EXPECT_NEAR(camera.position.y, 400.0f / 5.0f, 0.01f);
    EXPECT_EQ(camera.position.x, 0.0f);
    EXPECT_EQ(terrain.greyRange.x, 0.0f);
    EXPECT_NEAR(terrain.greyRange.y, 80.0f, 0.01f);
    EXPECT_TRUE(terrain.hasSea);

    // The death test's process writes the map into a folder of its own.
    const std::string refusal = gltest::outputOfFatalCall([&] { makeTerrain({path, "1", "20"}); });
    EXPECT_TRUE(std::regex_match(refusal, std::regex("A height scale does not apply to elevation map /tmp/kelta-scene-"
                                                     "\\w+/ramp\\.asc: its heights are metres; use --exaggeration\n")))
        << refusal;
}

TEST(MaterialBand, ImageMapsKeepTheirHeightAndElevationMapsMapMetresAboveTheSea) {
    // The full fragment text with a main of its own that shows the band of a height.
    std::string fragment = glsl::terrainFullFrag;
    const size_t main = fragment.find("void main() {");
    ASSERT_NE(main, std::string::npos);
    fragment.replace(main, 13, "void shadedMain() {");
    fragment += "uniform float height;\n"
                "void main() { fragColor = vec4(materialBand(height), 0.0, 0.0, 1.0); brightColor = vec4(0.0); }\n";
    // A triangle over the whole target, writing every input of the fragment text.
    const char* const vertex =
        "#version 330\nout vec3 fWorldPosition, fCameraPosition, fNormal;\nout vec2 fTexture;\nvoid main() {\n"
        "    fWorldPosition = fCameraPosition = fNormal = vec3(0.0);\n    fTexture = vec2(0.0);\n"
        "    gl_Position = vec4(gl_VertexID == 1 ? 3.0 : -1.0, gl_VertexID == 2 ? 3.0 : -1.0, 0.0, 1.0);\n}\n";
    struct BandShader : Shader {
        BandShader(const char* vertex, const char* fragment) : Shader(vertex, fragment) {}
        const char* getVertexSource() override { return nullptr; }
        const char* getFragmentSource() override { return nullptr; }
    } shader(vertex, fragment.c_str());
    GLuint vertexArray = 0;
    glGenVertexArrays(1, &vertexArray);
    const SceneTarget target(1);

    // Metres per unit of height 30: height h stands for 30 h metres.
    const struct {
        const char* name;
        float metresPerHeight, snowLine;
        bool hasSea;
        float metres;  // for image maps: the height itself
        float band;
    } cases[] = {
        {"image map", 0.0f, 2500.0f, true, 7.3f, 7.3f},
        {"image map below 0", 0.0f, 2500.0f, false, -1.0f, -1.0f},
        {"lowland bottom", 30.0f, 2500.0f, true, 140.0f, 2.5f + 137.0f / 747.0f * 2.5f},
        {"lowland top", 30.0f, 2500.0f, true, 550.0f, 2.5f + 547.0f / 747.0f * 2.5f},
        {"below the sea", 30.0f, 2500.0f, true, -12.0f, 0.0f},
        {"shore", 30.0f, 2500.0f, true, 2.0f, 1.5f},
        {"hills", 30.0f, 2500.0f, true, 1000.0f, 7.0f},
        {"above the snow line", 30.0f, 2500.0f, true, 3000.0f, 15.0f},
        {"sea level without a sea", 30.0f, 2500.0f, false, 0.0f, 2.5f},
        {"snow line twice as high", 30.0f, 5000.0f, true, 1500.0f, 5.0f},
    };
    for (const auto& c : cases) {
        target.begin();
        glDisable(GL_DEPTH_TEST);
        glUseProgram(shader.program);
        glUniform1f(glGetUniformLocation(shader.program, "metresPerHeight"), c.metresPerHeight);
        glUniform1f(glGetUniformLocation(shader.program, "snowLine"), c.snowLine);
        glUniform1i(glGetUniformLocation(shader.program, "hasSea"), c.hasSea);
        const float height = c.metresPerHeight == 0.0f ? c.metres : c.metres / c.metresPerHeight;
        glUniform1f(glGetUniformLocation(shader.program, "height"), height);
        glBindVertexArray(vertexArray);
        glDrawArrays(GL_TRIANGLES, 0, 3);
        glBindVertexArray(0);
        glUseProgram(0);
        EXPECT_NEAR(target.read(0)[0], c.band, 1e-4f) << c.name;
    }
    glDeleteVertexArrays(1, &vertexArray);
}

TEST_F(Scene, ADrapeColoursEachSampleWithItsOwnTexelByItsCoverage) {
    // Grass-high flat ground, 8 x 8 samples 4 apart, seen from straight above.
    const std::string path = writeMap("draped.bmp", 8, 8, [](int, int) { return 60; });
    Terrain& terrain = *makeTerrain({path, "4"});
    look({14.0f, 40.0f, -14.0f}, DOWN, NORTH);
    const std::vector<float> bare = drawTerrain(terrain, 5);

    // A red and blue checkerboard, one texel a sample: over each sample its own texel's colour,
    // not a blend of its neighbours'; transparent, the picture leaves the terrain as it was.
    std::vector<uint8_t> checkerboard;
    for (int k = 0; k < 64; ++k) {
        const bool red = (k / 8 + k % 8) % 2 == 0;
        checkerboard.insert(checkerboard.end(), {uint8_t(red ? 255 : 0), 0, uint8_t(red ? 0 : 255), 0});
    }
    terrain.setDrape(8, 8, checkerboard.data());
    EXPECT_EQ(drawTerrain(terrain, 5), bare);
    for (size_t k = 3; k < checkerboard.size(); k += 4) checkerboard[k] = 255;
    terrain.setDrape(8, 8, checkerboard.data());
    // Mesa's software anisotropic filter blurs magnified texels; where they lie is what is tested.
    glBindTexture(GL_TEXTURE_2D, terrain.drape->id);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY_EXT, 1.0f);
    const std::vector<float> draped = drawTerrain(terrain, 5);
    const float halfSpan = (40.0f - 60.0f * terrain.geometry.heightPerValue) / gltest::application().projection[1][1];
    for (int row = 1; row < 7; ++row) {
        for (int column = 1; column < 7; ++column) {
            const int x = static_cast<int>(((4.0f * column - 14.0f) / halfSpan + 1.0f) * 0.5f * SIZE);
            const int y = static_cast<int>(((4.0f * row - 14.0f) / halfSpan + 1.0f) * 0.5f * SIZE);
            const float* p = pixel(draped, x, y);
            const bool red = (row + column) % 2 == 0;
            EXPECT_GT(red ? p[0] : p[2], 4.0f * (red ? p[2] : p[0])) << "sample " << column << ", " << row;
        }
    }
}

TEST_F(Scene, FarViewsKeepTheNearerOfTwoGroundsAUnitApartFiftyThousandUnitsAway) {
    Application& app = gltest::application();
    app.depthConvention = chooseDepthConvention(60000.0f, TerrainOptions().viewDistance);
    if (app.depthConvention != DepthConvention::Reversed) GTEST_SKIP() << "this context has no clip control";
    applyDepthConvention(app.depthConvention);
    app.projection = viewProjection(0.87266463f, 1.0f, 0.01f, 60000.0f, app.depthConvention);

    // Flat grounds at heights 0 and 1.02, 5000 units a column, seen from 50000 units up.
    Terrain& lower = *makeTerrain({writeMap("low.bmp", 16, 16, [](int, int) { return 0; }), "5000"});
    Terrain& upper = *makeTerrain({writeMap("high.bmp", 16, 16, [](int, int) { return 13; }), "5000"});
    look({37500.0f, 50000.0f, -37500.0f}, DOWN, NORTH);
    app.terrainMode = 3;
    Framebuffer scene(2, true);
    scene.resize(SIZE, SIZE);
    for (bool upperFirst : {false, true}) {
        scene.bind();
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glEnable(GL_DEPTH_TEST);
        for (Terrain* terrain : upperFirst ? std::vector<Terrain*>{&upper, &lower} : std::vector<Terrain*>{&lower, &upper}) {
            terrain->shader = app.terrainShaders[2].get();
            terrain->draw();
        }
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        std::vector<float> image(size_t(SIZE) * SIZE * 4);
        glBindTexture(GL_TEXTURE_2D, scene.colorTextures[0]);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_FLOAT, image.data());
        int upperShown = 0;
        for (size_t k = 0; k < image.size(); k += 4) upperShown += image[k] > 0.0f;
        EXPECT_EQ(upperShown, SIZE * SIZE) << (upperFirst ? "upper drawn first" : "lower drawn first");
    }
    applyDepthConvention(DepthConvention::Standard);
}

namespace {

// Builds streamed terrains with a cache of `megabytes`, their pyramids made in the test's folder.
struct Streaming {
    explicit Streaming(const std::string& cacheFolder, int megabytes) {
        setenv("XDG_CACHE_HOME", cacheFolder.c_str(), 1);
        TerrainOptions& options = gltest::application().terrainOptions;
        options.stream = true;
        options.tileCacheMegabytes = megabytes;
    }
    ~Streaming() { gltest::application().terrainOptions = TerrainOptions(); }
};

// Draws with `draw` until the terrain has settled, for at most a minute.
bool settle(Terrain& terrain, const std::function<void()>& draw) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    do {
        draw();
    } while (!terrain.isSettled() && std::chrono::steady_clock::now() < giveUp);
    return terrain.isSettled();
}

int clearPixels(const std::vector<float>& image) {
    int clear = 0;
    for (size_t k = 0; k < image.size(); k += 4) clear += isClearColour(&image[k]);
    return clear;
}

}  // namespace

TEST_F(Scene, StreamingWithATinyCacheSettlesOnTheLevelOfDetailPicture) {
    // Rolling hills, 2^10 + 1 samples: a pyramid of 16, 4 and 1 tiles.
    const std::string path = writeMap("streamed.bmp", 1025, 1025, [](int j, int i) {
        return static_cast<uint8_t>(120 + 80 * std::sin(j / 37.0) * std::cos(i / 29.0) + 20 * std::sin((i + j) / 13.0));
    });
    Application& app = gltest::application();
    app.terrainOptions.levelOfDetail = true;
    Terrain& detailed = *makeTerrain({path, "1", "10"});
    // Three layers: the coarsest tile and the two tiles each view below wants.
    const Streaming streaming(mapFolder, 1);
    Terrain& streamed = *makeTerrain({path, "1", "10"});
    ASSERT_NE(streamed.stream, nullptr);
    ASSERT_EQ(streamed.stream->cache().layerCount(), 3);

    const vec3 southWest{60.0f, 20.0f, -60.0f}, direction = normalize(vec3{1.0f, -0.6f, -1.0f});
    const TileKey southWestTile{0, 0, 3};
    for (const vec3& eye : {southWest, vec3{964.0f, 20.0f, -964.0f}, southWest}) {
        look(eye, direction);
        ASSERT_TRUE(settle(streamed, [&] { drawTerrain(streamed, 3); })) << eye.x;
        EXPECT_EQ(streamed.stream->cache().find(southWestTile) >= 0, eye.x == southWest.x) << eye.x;
    }
    EXPECT_EQ(streamed.streamCounters().tilesLoaded, 7u) << "the first view's tiles were replaced and read again";
    for (int mode = 1; mode <= 5; ++mode) {
        const std::vector<float> expected = drawTerrain(detailed, mode);
        const std::vector<float> drawn = drawTerrain(streamed, mode);
        EXPECT_TRUE(streamed.isSettled());
        EXPECT_GT(streamed.trianglesPerFrame(), 0u);
        int differing = 0;
        for (size_t k = 0; k < drawn.size(); ++k) differing += std::fabs(drawn[k] - expected[k]) > 0.02f;
        EXPECT_LE(differing, static_cast<int>(drawn.size() / 100)) << "mode " << mode;
    }
}

TEST_F(Scene, StreamingLeavesNoCracksWithOnlyTheCoarsestTilesOrWhileFinerOnesFadeIn) {
    std::mt19937 random(5);
    const std::string path = writeMap("rough.bmp", 1025, 1025, [&](int, int) { return static_cast<uint8_t>(random()); });
    Application& app = gltest::application();
    const Streaming streaming(mapFolder, 2);
    // A budget so large that each level is drawn as near as its nodes allow.
    app.terrainOptions.lodErrorPixels = 1000.0f;
    Terrain& terrain = *makeTerrain({path, "1", "10"});
    double now = 0.0;
    terrain.stream->clock = [&now] { return now; };
    look({40.0f, 60.0f, -40.0f}, normalize(vec3{1.0f, -1.0f, -1.0f}));
    app.terrainMode = 3;
    terrain.shader = app.terrainShaders[2].get();
    const SceneTarget large(256);
    const auto drawOverMagenta = [&] {
        large.begin();
        glClearColor(1, 0, 1, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glClearColor(0, 0, 0, 1);
        terrain.draw();
        return large.read(0);
    };

    // The first frame has only the pinned coarsest tile: the rest is asked for as it draws.
    EXPECT_EQ(clearPixels(drawOverMagenta()), 0) << "coarsest tiles only";
    EXPECT_FALSE(terrain.isSettled());
    // The tiles the view wants arrive and start fading in; halfway, each level shows half its own
    // heights and half what the coarser levels give.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (terrain.stream->cache().find(TileKey{0, 0, 3}) < 0 && std::chrono::steady_clock::now() < giveUp) {
        EXPECT_EQ(clearPixels(drawOverMagenta()), 0) << "while loading";
    }
    ASSERT_GE(terrain.stream->cache().find(TileKey{0, 0, 3}), 0) << "the view wants the tile under the eye";
    now += TerrainStream::FADE_SECONDS / 2;
    EXPECT_EQ(clearPixels(drawOverMagenta()), 0) << "halfway faded in";
    EXPECT_FALSE(terrain.isSettled());
    now += TerrainStream::FADE_SECONDS / 2;
    EXPECT_TRUE(settle(terrain, [&] { EXPECT_EQ(clearPixels(drawOverMagenta()), 0) << "settled"; }));
}

// A still waits for its tiles without drawing frames and ends the fades at once: its one frame must
// be the picture that frames settle on, with nothing missing nor half faded.
TEST_F(Scene, AStreamedStillSettledWithoutDrawingIsThePictureFramesSettleOn) {
    std::mt19937 random(7);
    const std::string path = writeMap("still.bmp", 1025, 1025, [&](int, int) { return static_cast<uint8_t>(random()); });
    const Streaming streaming(mapFolder, 64);
    look({40.0f, 60.0f, -40.0f}, normalize(vec3{1.0f, -1.0f, -1.0f}));
    Terrain& byFrames = *makeTerrain({path, "1", "10"});
    ASSERT_TRUE(settle(byFrames, [&] { drawTerrain(byFrames, 5); }));
    const std::vector<float> expected = drawTerrain(byFrames, 5);

    Terrain& still = *makeTerrain({path, "1", "10"});
    // A clock that stands still: only ending the fades can show the arrived tiles whole.
    still.stream->clock = [] { return 0.0; };
    const auto now = std::chrono::steady_clock::now();
    EXPECT_FALSE(still.settleWithoutDrawing(SIZE, now - std::chrono::seconds(1)))
        << "a deadline passed while the view still wanted tiles";
    ASSERT_TRUE(still.settleWithoutDrawing(SIZE, now + std::chrono::seconds(60)));
    EXPECT_EQ(still.trianglesPerFrame(), 0u) << "settling drew";
    EXPECT_GT(still.streamCounters().tilesLoaded, 5u) << "nothing beyond the pinned levels was wanted";
    EXPECT_TRUE(drawTerrain(still, 5) == expected) << "the still is not the settled frames' picture";
    EXPECT_TRUE(still.isSettled());
}

// A terrain replaced while the program runs must give back all it held: its GL objects while the
// context lives, its background readers, its memory.
TEST_F(Scene, ReleasingATerrainDeletesItsObjectsAndEndsItsReaders) {
    const std::string path = writeMap("released.bmp", 513, 513, [](int j, int i) {
        return static_cast<uint8_t>(100 + 60 * std::sin(j / 23.0) * std::cos(i / 31.0));
    });
    const auto threads = [] {
        size_t count = 0;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) count += !entry.path().empty();
        return count;
    };
    Application& app = gltest::application();
    const struct {
        const char* surface;
        bool levelOfDetail;
        bool stream;
    } cases[] = {{"full mesh", false, false}, {"level of detail", true, false}, {"streamed", false, true}};
    for (const auto& each : cases) {
        const size_t threadsBefore = threads();
        const Streaming streaming(mapFolder, 4);
        TerrainOptions options;
        options.stream = each.stream;
        options.levelOfDetail = each.levelOfDetail;
        Terrain& terrain = *makeTerrainFrom(path, options);
        // Drawn as its own options say, not as the application's do.
        EXPECT_EQ(terrain.mesh != nullptr, !each.stream && !each.levelOfDetail) << each.surface;
        EXPECT_EQ(terrain.lod != nullptr, each.levelOfDetail) << each.surface;
        EXPECT_EQ(terrain.stream != nullptr, each.stream) << each.surface;
        look({100.0f, 40.0f, -100.0f}, normalize(vec3{1.0f, -0.5f, -1.0f}));
        drawTerrain(terrain, 5);
        std::vector<GLuint> textures{terrain.atlas->id};
        // The full mesh draws with the application's programs, which stay; the others with their own.
        std::vector<GLuint> programs;
        for (int k = 0; k < 5; ++k) {
            if (terrain.lod) programs.push_back(terrain.lod->shaders[k]->program);
            if (terrain.stream) programs.push_back(terrain.stream->shaders[k]->program);
        }
        if (terrain.mesh) {
            ASSERT_TRUE(glIsBuffer(terrain.mesh->vbo));
            ASSERT_TRUE(glIsBuffer(terrain.mesh->ibo));
        }
        const GLuint meshBuffer = terrain.mesh ? terrain.mesh->vbo : 0;
        app.terrain.reset();
        for (const GLuint texture : textures) EXPECT_FALSE(glIsTexture(texture)) << each.surface;
        for (const GLuint program : programs) EXPECT_FALSE(glIsProgram(program)) << each.surface;
        if (meshBuffer != 0) {
            EXPECT_FALSE(glIsBuffer(meshBuffer));
        }
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (threads() > threadsBefore && std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_EQ(threads(), threadsBefore) << each.surface << ": its readers still run";
    }
}

// Files dropped on the window: queued by the callback, opened as the next frame begins, a map in
// place of the terrain (at its start pose, drawn with the mode and bloom the viewer set), a picture
// over it, and anything else refused with its reason, the terrain left as it was.
TEST_F(Scene, DroppedFilesOpenAsMapsOrPicturesAtTheNextFrameAndBadOnesKeepTheMap) {
    Application& app = gltest::application();
    // A square GeoTIFF of the given bands, on a UTM grid when one is given.
    const auto geoTiff = [](const std::string& path, int side, int bands, GDALDataType type,
                            std::vector<double> values, std::optional<std::array<double, 6>> grid) {
        gdaltest::Raster raster;
        raster.width = raster.height = side;
        raster.bands = bands;
        raster.type = type;
        raster.values = std::move(values);
        raster.geoTransform = grid;
        if (grid) raster.coordinateSystem = "EPSG:32725";
        EXPECT_TRUE(gdaltest::writeFile(gdaltest::inMemory(raster).get(), path)) << path;
        return path;
    };
    const std::array<double, 6> utmGrid{500000.0, 30.0, 0.0, 9100000.0, 0.0, -30.0};
    std::array<double, 6> farAway = utmGrid;
    farAway[3] -= 1.0e6;
    const std::string picture = geoTiff(mapFolder + "/picture.tif", 4, 3, GDT_Byte, std::vector<double>(16, 200.0), {});
    const std::string elevation = geoTiff(mapFolder + "/elevation.tif", 8, 1, GDT_Float32, {0, 10, 20, 70}, utmGrid);
    const std::string elsewhere =
        geoTiff(mapFolder + "/elsewhere.tif", 4, 3, GDT_Byte, std::vector<double>(48, 90.0), farAway);
    const std::string notes = mapFolder + "/notes.txt";
    std::ofstream(notes) << "not a map\n";
    const std::string image = writeMap("dropped.bmp", 24, 12, [](int j, int) { return static_cast<uint8_t>(8 * j); });

    makeTerrain({writeMap("start.bmp", 16, 16, [](int, int) { return 60; })});
    app.terrain->shader = app.terrainShaders[3].get();
    app.terrain->bloomThreshold = 0.55f;
    enum Outcome { Replaced, Draped, Kept };
    const struct {
        const char* name;
        std::vector<std::string> files;
        Outcome outcome;
        int gridWidth;
        // A part of the reason a refused file gives; any reason at all where empty.
        const char* reason;
    } drops[] = {
        {"an 8-bit BMP height map", {image}, Replaced, 24, ""},
        {"a colour picture", {picture}, Draped, 24, ""},
        {"an elevation map, which comes without the last map's picture", {elevation}, Replaced, 8, ""},
        {"a picture that lies elsewhere on Earth", {elsewhere}, Kept, 8, "does not overlap the map"},
        {"a text file", {notes}, Kept, 8, ""},
        {"a missing file", {mapFolder + "/missing.png"}, Kept, 8, ""},
        // Opened in the order dropped: the map, then the picture over it.
        {"a map and its picture dropped together", {image, picture}, Draped, 24, ""},
    };
    for (const auto& drop : drops) {
        const Terrain* before = app.terrain.get();
        const Texture* drapeBefore = before->drape.get();
        camera.position = vec3{5.0f, 99.0f, 5.0f};
        std::vector<const char*> paths;
        for (const std::string& file : drop.files) paths.push_back(file.c_str());
        dropCallback(gltest::window(), static_cast<int>(paths.size()), paths.data());
        // Nothing opens inside GLFW's callback.
        EXPECT_EQ(app.terrain.get(), before) << drop.name;
        EXPECT_EQ(app.droppedFiles, drop.files) << drop.name;

        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        app.openDroppedFiles();
        const std::string logged = testing::internal::GetCapturedStdout();
        const std::string refused = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(app.droppedFiles.empty()) << drop.name;
        Terrain& terrain = *app.terrain;
        EXPECT_EQ(terrain.gridWidth, drop.gridWidth) << drop.name;
        const std::string& last = drop.files.back();
        if (drop.outcome == Kept) {
            EXPECT_EQ(&terrain, before) << drop.name;
            EXPECT_EQ(terrain.drape.get(), drapeBefore) << drop.name;
            EXPECT_EQ(camera.position.y, 99.0f) << drop.name;
            const std::string opening = "could not open " + last + ": ", ending = "; keeping the current map";
            const std::string& message = app.lastOpenMessage;
            ASSERT_GT(message.size(), opening.size() + ending.size()) << message;
            EXPECT_EQ(message.substr(0, opening.size()), opening) << message;
            EXPECT_EQ(message.substr(message.size() - ending.size()), ending) << message;
            const std::string reason = message.substr(opening.size(), message.size() - opening.size() - ending.size());
            EXPECT_NE(reason.find(drop.reason), std::string::npos) << drop.name << ": " << reason;
            EXPECT_EQ(refused, "kelta: " + app.lastOpenMessage + "\n") << drop.name;
            continue;
        }
        const std::string line = (drop.outcome == Draped ? "Drape opened: " : "Map opened: ") + last;
        EXPECT_EQ(app.lastOpenMessage, line) << drop.name;
        EXPECT_NE(logged.find(line + "\n"), std::string::npos) << logged;
        EXPECT_EQ(refused, "") << drop.name;
        EXPECT_EQ(terrain.drape != nullptr, drop.outcome == Draped) << drop.name;
        EXPECT_EQ(terrain.shader, app.terrainShaders[3].get()) << drop.name;
        EXPECT_EQ(terrain.bloomThreshold, 0.55f) << drop.name;
        if (drop.outcome == Draped && drop.files.size() == 1) {
            EXPECT_EQ(&terrain, before) << drop.name;
            EXPECT_EQ(camera.position.y, 99.0f) << drop.name << ": a picture moves no camera";
            continue;
        }
        EXPECT_NE(&terrain, before) << drop.name;
        // The start pose: over the map's corner, as high as its highest ground, looking across it.
        EXPECT_EQ(camera.position.x, 0.0f) << drop.name;
        EXPECT_EQ(camera.position.z, 0.0f) << drop.name;
        const float metresPerHeight = terrain.geometry.metresPerHeight;
        EXPECT_NEAR(camera.position.y, metresPerHeight > 0.0f ? 70.0f / metresPerHeight : 20.0f, 1e-3f) << drop.name;
        EXPECT_FLOAT_EQ(camera.direction.x, -camera.direction.z) << drop.name;
    }
}

namespace {

// A round hill 24 high in the middle of a 32 x 32 map, its crest along row 16.
uint8_t hillValue(int j, int i) {
    const double distanceSquared = (j - 15.5) * (j - 15.5) + (i - 16.0) * (i - 16.0);
    return static_cast<uint8_t>(std::lround(24.0 * std::exp(-distanceSquared / 50.0)));
}

// The surface of that map (height scale 255: heights are the values), between samples as a
// picking would give it.
std::optional<float> hillHeightAt(float x, float z) {
    const float row = -z;
    if (x < 0.0f || row < 0.0f || x > 31.0f || row > 31.0f) return std::nullopt;
    const int j = std::min(static_cast<int>(x), 30), i = std::min(static_cast<int>(row), 30);
    const float u = x - j, v = row - i;
    return (hillValue(j, i) * (1 - u) + hillValue(j + 1, i) * u) * (1 - v) +
           (hillValue(j, i + 1) * (1 - u) + hillValue(j + 1, i + 1) * u) * v;
}

// The pixel of the target a world point is drawn at.
void pixelOf(const vec3& world, int& x, int& y) {
    const Application& app = gltest::application();
    const mat4 toClip = app.projection * app.modelview;
    const vec4 clip = toClip[0] * world.x + toClip[1] * world.y + toClip[2] * world.z + toClip[3];
    x = static_cast<int>((clip.x / clip.w * 0.5f + 0.5f) * SIZE);
    y = static_cast<int>((clip.y / clip.w * 0.5f + 0.5f) * SIZE);
}

// The line's yellow-orange, told apart from the grey of the height mode.
bool isPathLine(const float* p) { return p[0] - p[2] > 0.5f && p[1] > 0.4f && p[1] < 0.8f; }

bool hasPathLineNear(const std::vector<float>& image, int x, int y) {
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            const int px = std::clamp(x + dx, 0, SIZE - 1), py = std::clamp(y + dy, 0, SIZE - 1);
            if (isPathLine(pixel(image, px, py))) return true;
        }
    return false;
}

// Pixels of two pictures of `side` x `side` that differ by more than 8 levels of 255 in a channel.
int pixelsOffByMoreThanEightLevels(const std::vector<float>& a, const std::vector<float>& b) {
    int differing = 0;
    for (size_t k = 0; k + 3 < a.size(); k += 4) {
        bool off = false;
        for (size_t c = 0; c < 3; ++c) off = off || std::fabs(a[k + c] - b[k + c]) > 8.0f / 255.0f;
        differing += off;
    }
    return differing;
}

}  // namespace

// Catches a path line hidden by the surface it lies on (no pull towards the eye, or a line cut
// through the hill instead of draped over it), or one not depth-tested at all; and markers missing.
TEST_F(Scene, AGroundPathDrapedOverAHillShowsWhereAStraightLineIsHidden) {
    const std::string path = writeMap("hill.bmp", 32, 32, hillValue);
    Terrain& terrain = *makeTerrain({path, "1", "255"});
    Application& app = gltest::application();
    app.terrainMode = 3;
    terrain.shader = app.terrainShaders[2].get();
    look({15.5f, 40.0f, 14.0f}, normalize(vec3{0.0f, -30.0f, -30.0f}));
    const vec3 west{2.0f, *hillHeightAt(2.0f, -12.5f), -12.5f};
    const vec3 east{29.0f, *hillHeightAt(29.0f, -12.5f), -12.5f};

    GroundPath groundPath;
    const auto drawWith = [&](const std::vector<vec3>& line, const std::vector<vec3>& markers) {
        groundPath.setPath(line, markers, 1.0f);
        target.begin();
        terrain.draw();
        groundPath.draw(app.modelview, app.projection);
    };

    drawWith(drapeOnGround({west, east}, 1.0f, hillHeightAt), {west, east});
    const std::vector<float> draped = target.read(0);
    const std::vector<float> bright = target.read(1);
    // Away from the markers, which cover the line's ends.
    for (int column = 6; column <= 25; ++column) {
        int x = 0, y = 0;
        pixelOf({float(column), *hillHeightAt(float(column), -12.5f), -12.5f}, x, y);
        // The ribbon, 3 pixels wide, covers the centre of the pixel its middle runs through.
        EXPECT_TRUE(isPathLine(pixel(draped, x, y))) << "column " << column << " at " << x << ", " << y;
        // The line never blooms.
        EXPECT_EQ(pixel(bright, x, y)[0], 0.0f) << "column " << column;
    }
    for (const vec3& marker : {west, east}) {
        int x = 0, y = 0;
        pixelOf(marker, x, y);
        const float* p = pixel(draped, x, y);
        EXPECT_NEAR(p[0], 1.0f, 1e-3f);
        EXPECT_NEAR(p[1], 0.9f, 1e-3f);
        EXPECT_NEAR(p[2], 0.35f, 1e-3f);
    }

    // The straight line between the same clicks runs inside the hill, whose near slope hides it.
    drawWith({west, east}, {});
    const std::vector<float> straight = target.read(0);
    for (int column = 11; column <= 20; ++column) {
        int x = 0, y = 0;
        pixelOf({float(column), 0.0f, -12.5f}, x, y);
        EXPECT_FALSE(hasPathLineNear(straight, x, y)) << "column " << column;
    }
}

// Catches an empty path that still draws, or any drawing that leaves the program, the vertex
// array, the buffer or the depth write mask changed for the passes after it.
TEST_F(Scene, AGroundPathLeavesTheFrameAndTheStateAsItFoundThem) {
    const std::string path = writeMap("hill.bmp", 32, 32, hillValue);
    Terrain& terrain = *makeTerrain({path, "1", "255"});
    look({15.5f, 40.0f, 14.0f}, normalize(vec3{0.0f, -30.0f, -30.0f}));
    const std::vector<float> alone = drawTerrain(terrain, 5);
    const auto state = [] {
        GLint values[4] = {};
        glGetIntegerv(GL_CURRENT_PROGRAM, &values[0]);
        glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &values[1]);
        glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &values[2]);
        GLboolean depthWrites = GL_FALSE;
        glGetBooleanv(GL_DEPTH_WRITEMASK, &depthWrites);
        values[3] = depthWrites;
        return std::vector<GLint>(values, values + 4);
    };

    const Application& app = gltest::application();
    GroundPath groundPath;
    const vec3 west{2.0f, 0.0f, -16.0f}, east{29.0f, 0.0f, -16.0f};
    const struct {
        const char* name;
        std::vector<vec3> line, markers;
    } paths[] = {{"never set", {}, {}}, {"cleared", {}, {}}, {"a path", {west, east}, {west}}};
    for (const auto& each : paths) {
        if (std::string(each.name) == "cleared") groundPath.setPath({west, east}, {east}, 1.0f);
        if (std::string(each.name) != "never set") groundPath.setPath(each.line, each.markers, 1.0f);
        target.begin();
        terrain.draw();
        const std::vector<GLint> before = state();
        groundPath.draw(app.modelview, app.projection);
        EXPECT_EQ(state(), before) << each.name;
        const std::vector<float> image = target.read(0);
        EXPECT_EQ(image == alone, groundPath.isEmpty()) << each.name;
    }
}

TEST_F(Scene, HeightsChangedWhileRunningDrawAsTheSameOptionsGivenAtStartUpOnEverySurface) {
    // Faults caught: heights not moved on a surface, or moved without their normals; level-of-detail
    // or streamed errors and boxes left at the old heights; a raised sea that leaves the ground
    // below it showing; mode 3's range, the water or the materials left as they were.
    // A coast: sea floor down to -200 m in the south-west, hills up to 900 m in the north-east.
    const std::string path = writeElevationMap(mapFolder + "/coast.asc", 129, 129, 60.0, 60.0, [](int column, int row) {
        return -200.0 + 5.0 * (column + row) + 120.0 * std::sin(column / 9.0) * std::cos(row / 11.0);
    });
    setenv("XDG_CACHE_HOME", mapFolder.c_str(), 1);
    const struct {
        const char* surface;
        bool levelOfDetail, stream;
    } surfaces[] = {{"full mesh", false, false}, {"level of detail", true, false}, {"streamed", false, true}};
    const struct {
        const char* change;
        std::function<void(TerrainOptions&)> before, after;
        std::function<void(Terrain&)> apply;
    } changes[] = {
        {"exaggeration 1 to 2.5", [](TerrainOptions&) {}, [](TerrainOptions& o) { o.exaggeration = 2.5; },
         [](Terrain& t) { t.setExaggeration(2.5); }},
        {"exaggeration 4 to 1", [](TerrainOptions& o) { o.exaggeration = 4.0; }, [](TerrainOptions&) {},
         [](Terrain& t) { t.setExaggeration(1.0); }},
        {"no sea to a sea at 150 m", [](TerrainOptions& o) { o.hasSea = false; },
         [](TerrainOptions& o) { o.seaLevelMetres = 150.0; }, [](Terrain& t) { t.setSeaLevel(150.0); }},
        {"sea raised from 0 to 300 m", [](TerrainOptions&) {}, [](TerrainOptions& o) { o.seaLevelMetres = 300.0; },
         [](Terrain& t) { t.setSeaLevel(300.0); }},

        {"sea raised and back to 0 m", [](TerrainOptions&) {}, [](TerrainOptions&) {},
         [](Terrain& t) {
             t.setSeaLevel(300.0);
             t.setSeaLevel(0.0);
         }},
    };
    const int side = 160;
    SceneTarget large(side);
    const auto draw = [&](Terrain& terrain, int mode) {
        Application& app = gltest::application();
        app.terrainMode = mode;
        terrain.shader = app.terrainShaders[mode - 1].get();
        large.begin();
        terrain.draw();
        return large.read(0);
    };
    look({-10.0f, 30.0f, 10.0f}, normalize(vec3{1.0f, -0.4f, -1.0f}));
    for (const auto& surface : surfaces) {
        for (const auto& change : changes) {
            const auto options = [&](const std::function<void(TerrainOptions&)>& set) {
                TerrainOptions result;
                result.levelOfDetail = surface.levelOfDetail;
                result.stream = surface.stream;
                set(result);
                return result;
            };
            Terrain& changed = *makeTerrainFrom(path, options(change.before));
            change.apply(changed);
            Terrain& given = *makeTerrainFrom(path, options(change.after));
            ASSERT_EQ(changed.stream != nullptr, surface.stream);
            // Mode 3's range comes from where the geometry says the lowest and highest samples lie.
            EXPECT_NEAR(changed.greyRange.x, given.greyRange.x, 1e-3f) << surface.surface << ", " << change.change;
            EXPECT_NEAR(changed.greyRange.y, given.greyRange.y, 1e-3f) << surface.surface << ", " << change.change;
            EXPECT_EQ(changed.hasSea, given.hasSea) << surface.surface << ", " << change.change;
            for (const int mode : {3, 5}) {
                if (surface.stream) {
                    ASSERT_TRUE(settle(changed, [&] { draw(changed, mode); }));
                    ASSERT_TRUE(settle(given, [&] { draw(given, mode); }));
                }
                const std::vector<float> expected = draw(given, mode);
                const int differing = pixelsOffByMoreThanEightLevels(draw(changed, mode), expected);
                EXPECT_LE(differing, side * side / 1000)
                    << surface.surface << ", " << change.change << ", mode " << mode;
            }
        }
    }
    unsetenv("XDG_CACHE_HOME");
}

TEST_F(Scene, ExaggerationScalesAnImageMapsHeightScale) {
    // Fault caught: an image map's exaggeration read as an elevation map's, which has no height scale.
    const std::string path = writeMap("exaggerated.bmp", 65, 65, [](int j, int i) {
        return static_cast<uint8_t>(100 + 90 * std::sin(j / 6.0) * std::cos(i / 7.0));
    });
    Application& app = gltest::application();
    look({-5.0f, 45.0f, 5.0f}, normalize(vec3{1.0f, -0.6f, -1.0f}));
    // Each surface places the heights it is given (tested on every surface with elevation maps): the
    // full mesh is enough to see the image map's geometry.
    // The command line's exaggeration is for elevation maps: an image map starts from 1.
    app.terrainOptions.exaggeration = 3.0;
    Terrain& changed = *makeTerrain({path, "1", "20"});
    EXPECT_EQ(changed.exaggeration(), 1.0);
    changed.setExaggeration(2.5);
    app.terrainOptions.exaggeration = 1.0;
    Terrain& given = *makeTerrain({path, "1", "50"});
    for (const int mode : {3, 5}) {
        const std::vector<float> expected = drawTerrain(given, mode);
        EXPECT_LE(pixelsOffByMoreThanEightLevels(drawTerrain(changed, mode), expected), SIZE * SIZE / 1000)
            << "mode " << mode;
    }
}

TEST_F(Scene, AViewDistanceChangedWhileRunningDrawsAsOneGivenAtStartUp) {
    // Faults caught: the far plane, the fog or the sky left at the start-up distance, or the depth
    // convention not chosen again for the new one (start-up reverses it beyond 600 where it can).
    const std::string path = writeMap("far.bmp", 129, 129, [](int j, int i) {
        return static_cast<uint8_t>(120 + 100 * std::sin(j / 11.0) * std::cos(i / 13.0));
    });
    Application& app = gltest::application();
    app.finalProcessingEffect = std::make_unique<FinalProcessingEffect>(std::make_unique<FinalProcessingShader>());
    app.mainFramebuffer = std::make_unique<Framebuffer>(2, true);
    app.mainFramebuffer->resize(SIZE, SIZE);
    const int outputWidth = app.outputWidth, outputHeight = app.outputHeight;
    app.outputWidth = app.outputHeight = SIZE;
    Terrain& terrain = *makeTerrain({path, "4", "60"});
    look({-20.0f, 50.0f, 20.0f}, normalize(vec3{1.0f, -0.15f, -1.0f}));
    const auto drawScene = [&] {
        target.begin();
        app.skydome->draw();
        terrain.draw();
        return target.read(0);
    };
    for (const float distance : {150.0f, 5000.0f, 600.0f}) {
        ViewSettings settings = viewSettingsOf(app);
        settings.viewDistance = distance;
        applyViewSettings(app, settings);
        EXPECT_EQ(viewSettingsOf(app).viewDistance, distance);
        const DepthConvention convention = app.depthConvention;
        const std::vector<float> changed = drawScene();

        // As start-up makes them for the distance.
        const DepthConvention chosen = chooseDepthConvention(distance, 600.0f);
        EXPECT_EQ(convention, chosen) << distance;
        EXPECT_EQ(app.mainFramebuffer->isCreated, true);
        applyDepthConvention(chosen);
        app.projection = windowProjection(SIZE, SIZE);
        std::unique_ptr<Skydome> changedSky = std::move(app.skydome);
        app.skydome = std::make_unique<Skydome>();
        const std::vector<float> given = drawScene();
        EXPECT_EQ(app.skydome->skyData.w, changedSky->skyData.w) << distance;
        EXPECT_EQ(app.skydome->centreBelowEye, changedSky->centreBelowEye) << distance;
        app.skydome = std::move(changedSky);
        EXPECT_LE(pixelsOffByMoreThanEightLevels(changed, given), SIZE * SIZE / 1000) << distance;
    }
    EXPECT_EQ(app.depthConvention, DepthConvention::Standard);
    // Under a sun placed at start-up the program has no sky dome, and the panel's distance needs none.
    std::unique_ptr<Skydome> dome = std::move(app.skydome);
    ViewSettings settings = viewSettingsOf(app);
    settings.viewDistance = 5000.0f;
    applyViewSettings(app, settings);
    EXPECT_EQ(viewSettingsOf(app).viewDistance, 5000.0f);
    EXPECT_EQ(app.depthConvention, chooseDepthConvention(5000.0f, 600.0f));
    settings.viewDistance = 600.0f;
    applyViewSettings(app, settings);
    app.skydome = std::move(dome);
    app.finalProcessingEffect.reset();
    app.mainFramebuffer.reset();
    app.outputWidth = outputWidth;
    app.outputHeight = outputHeight;
}

TEST_F(Scene, EachViewSettingAppliedIsInForceAndLeavesTheOthersAlone) {
    // Faults caught: a setting that apply forgets or puts into another's place, or one that the
    // next frame does not read from where apply put it.
    Application& app = gltest::application();
    app.finalProcessingEffect = std::make_unique<FinalProcessingEffect>(std::make_unique<FinalProcessingShader>());
    const std::string path = writeElevationMap(mapFolder + "/settings.asc", 65, 65, 30.0, 30.0, [](int column, int row) {
        return 20.0 * (column - row);
    });
    app.terrainOptions.levelOfDetail = true;
    makeTerrain({path});
    // A sea taken away reads the map again: the terrain is whichever is drawn now.
    const auto terrain = [&app]() -> Terrain& { return *app.terrain; };
    app.terrainMode = 5;
    const ViewSettings start = viewSettingsOf(app);
    const struct {
        const char* setting;
        std::function<void(ViewSettings&)> change;
        std::function<bool()> inForce;
    } rows[] = {
        {"exaggeration", [](ViewSettings& s) { s.exaggeration = 3.0; },
         [&] { return terrain().exaggeration() == 3.0; }},
        {"sea level", [](ViewSettings& s) { s.seaLevelMetres = 100.0; },
         [&] { return terrain().seaLevel() == 100.0 && terrain().geometry.lowestHeight == 0.0f; }},
        {"no sea", [](ViewSettings& s) { s.seaLevelMetres.reset(); }, [&] { return !terrain().hasSea; }},
        {"snow line", [](ViewSettings& s) { s.snowLineMetres = 800.0; }, [&] { return terrain().snowLine == 800.0f; }},
        {"error budget", [](ViewSettings& s) { s.errorPixels = 4.0f; }, [&] { return terrain().lod->errorPixels == 4.0f; }},
        {"shading mode", [](ViewSettings& s) { s.shadingMode = 3; },
         [&] { return app.terrainMode == 3 && terrain().shader == app.terrainShaders[2].get(); }},
        {"view", [](ViewSettings& s) { s.view = 2; }, [&] { return app.finalProcessingEffect->debugMode == 2; }},
        {"bloom gain", [](ViewSettings& s) { s.bloomGain = 2.5f; },
         [&] { return app.finalProcessingEffect->bloomGain == 2.5f; }},
        {"bloom threshold", [](ViewSettings& s) { s.bloomThreshold = 0.6f; },
         [&] { return terrain().bloomThreshold == 0.6f; }},
        {"camera speed", [](ViewSettings& s) { s.cameraSpeed = 40.0f; }, [&] { return camera.moveSpeed == 40.0f; }},
    };
    const auto fields = [](const ViewSettings& s) {
        return std::make_tuple(s.exaggeration, s.seaLevelMetres, s.snowLineMetres, s.viewDistance, s.errorPixels,
                               s.shadingMode, s.view, s.bloomGain, s.bloomThreshold, s.cameraSpeed);
    };
    for (const auto& row : rows) {
        applyViewSettings(app, start);
        ViewSettings changed = start;
        row.change(changed);
        applyViewSettings(app, changed);
        EXPECT_TRUE(row.inForce()) << row.setting;
        EXPECT_EQ(fields(viewSettingsOf(app)), fields(changed)) << row.setting;
    }
    // A map opened next is built with the settings of the one before.
    ViewSettings kept = start;
    kept.exaggeration = 2.0;
    kept.seaLevelMetres = 40.0;
    kept.errorPixels = 3.0f;
    applyViewSettings(app, kept);
    EXPECT_EQ(app.terrainOptions.exaggeration, 2.0);
    EXPECT_TRUE(app.terrainOptions.hasSea);
    EXPECT_EQ(app.terrainOptions.seaLevelMetres, 40.0);
    EXPECT_EQ(app.terrainOptions.lodErrorPixels, 3.0f);
    app.finalProcessingEffect.reset();
}

// Catches a path left at the old heights when the exaggeration changes (its points and line
// floating over the ground or sunk into it, its lengths those of the old shape), and a path kept
// over a map opened since, whose points mean nothing there.
TEST_F(Scene, AMeasuredPathFollowsTheHeightsAndANewMapClearsIt) {
    const std::string path = writeMap("measured-hill.bmp", 32, 32, hillValue);
    Terrain& terrain = *makeTerrain({path, "1", "255"});
    Application& app = gltest::application();
    app.pathMeasuring = std::make_unique<PathMeasuring>();
    PathMeasuring& measuring = *app.pathMeasuring;
    for (const float x : {2.0f, 15.5f, 29.0f}) measuring.add(terrain, vec3{x, *terrain.heightAt(x, -16.0f), -16.0f});
    ASSERT_EQ(measuring.measure().legs.size(), 2u);
    const double flatter = measuring.measure().whole.ground;

    terrain.setExaggeration(2.0);
    measuring.followHeights(terrain);
    for (const PathPoint& point : measuring.points()) {
        EXPECT_FLOAT_EQ(point.world.y, *terrain.heightAt(point.world.x, point.world.z));
    }
    EXPECT_GT(measuring.measure().whole.ground, flatter);
    ASSERT_TRUE(measuring.measure().whole.highest);
    EXPECT_NEAR(measuring.measure().whole.highest->elevation, 2.0 * 24.0, 1.0);

    std::string message;
    ASSERT_TRUE(openFile(app, writeMap("next.bmp", 8, 8, [](int, int) { return uint8_t(10); }), message)) << message;
    EXPECT_TRUE(measuring.points().empty());
    EXPECT_TRUE(measuring.measure().legs.empty());
    app.pathMeasuring.reset();
}

// Catches a sea lowered (or taken away) below the one the map was read with that shows the old sea
// floor as flat land at the old level, because the samples below it were raised when read; and a
// reading again that loses the view, the exaggeration, the drape or the path on the map.
TEST_F(Scene, ASeaLoweredWhileRunningShowsTheGroundItCoveredOnEverySurface) {
    const std::string path = writeElevationMap(mapFolder + "/shelf.asc", 129, 129, 60.0, 60.0, [](int column, int row) {
        return -300.0 + 6.0 * (column + row) + 80.0 * std::sin(column / 7.0) * std::cos(row / 9.0);
    });
    setenv("XDG_CACHE_HOME", mapFolder.c_str(), 1);
    Application& app = gltest::application();
    app.finalProcessingEffect = std::make_unique<FinalProcessingEffect>(std::make_unique<FinalProcessingShader>());
    app.pathMeasuring = std::make_unique<PathMeasuring>();
    const int side = 160;
    SceneTarget large(side);
    const auto draw = [&](Terrain& terrain) {
        app.terrainMode = 3;
        terrain.shader = app.terrainShaders[2].get();
        if (terrain.stream) settle(terrain, [&] { large.begin(), terrain.draw(); });
        large.begin();
        terrain.draw();
        return large.read(0);
    };
    const struct {
        const char* surface;
        bool levelOfDetail, stream;
    } surfaces[] = {{"full mesh", false, false}, {"level of detail", true, false}, {"streamed", false, true}};
    const struct {
        const char* change;
        std::optional<double> sea;
    } changes[] = {{"sea lowered from 200 to -100 m", -100.0}, {"sea taken away", std::nullopt}};
    for (const auto& surface : surfaces) {
        for (const auto& change : changes) {
            const std::string name = std::string(surface.surface) + ", " + change.change;
            TerrainOptions read;
            read.levelOfDetail = surface.levelOfDetail;
            read.stream = surface.stream;
            read.seaLevelMetres = 200.0;
            read.exaggeration = 2.0;
            app.terrainOptions = read;
            makeTerrainFrom(path, read);
            app.terrain->setDrape(1, 1, std::vector<uint8_t>{255, 0, 0, 0}.data());
            app.pathMeasuring->add(*app.terrain, vec3{40.0f, *app.terrain->heightAt(40.0f, -40.0f), -40.0f});
            look({-10.0f, 30.0f, 10.0f}, normalize(vec3{1.0f, -0.4f, -1.0f}));
            ViewSettings settings = viewSettingsOf(app);
            settings.seaLevelMetres = change.sea;
            applyViewSettings(app, settings);
            Terrain& lowered = *app.terrain;
            EXPECT_EQ(lowered.seaLevel(), change.sea) << name;
            EXPECT_EQ(lowered.exaggeration(), 2.0) << name;
            EXPECT_NE(lowered.drape, nullptr) << name;
            EXPECT_EQ(camera.position.x, -10.0f) << name << ": the view moved";
            ASSERT_EQ(app.pathMeasuring->points().size(), 1u) << name;
            EXPECT_FLOAT_EQ(app.pathMeasuring->points()[0].world.y, *lowered.heightAt(40.0f, -40.0f)) << name;
            lowered.drape.reset();
            const std::vector<float> changed = draw(lowered);

            TerrainOptions given = read;
            given.hasSea = change.sea.has_value();
            given.seaLevelMetres = change.sea.value_or(0.0);
            Terrain& expected = *makeTerrainFrom(path, given);
            EXPECT_LE(pixelsOffByMoreThanEightLevels(changed, draw(expected)), side * side / 1000) << name;
            app.pathMeasuring->clear();
        }
    }
    app.pathMeasuring.reset();
    app.finalProcessingEffect.reset();
    app.terrainOptions = TerrainOptions();
}

namespace {

// Whether the ground at `point` sees the sun's centre, by walking towards it in steps of half a
// sample over the surface drawn until the map's edge: the reference the shadows must agree with.
bool rayReachesSun(const Terrain& terrain, const vec3& point, const SunPosition& sun) {
    const double azimuth = sun.azimuthDegrees * M_PI / 180.0, rise = std::tan(sun.altitudeDegrees * M_PI / 180.0);
    const double east = std::sin(azimuth), south = -std::cos(azimuth);
    const double step = 0.5 * std::min(terrain.geometry.columnSpacing, terrain.geometry.rowSpacing);
    const double width = (terrain.gridWidth - 1) * double(terrain.geometry.columnSpacing);
    const double depth = (terrain.gridHeight - 1) * double(terrain.geometry.rowSpacing);
    for (double walked = step;; walked += step) {
        const double x = point.x + east * walked, z = point.z + south * walked;
        if (x < 0.0 || x > width || z > 0.0 || z < -depth) return true;
        const std::optional<float> ground = terrain.heightAt(static_cast<float>(x), static_cast<float>(z));
        // The ground's own triangle is not an obstacle a hair above the point.
        if (ground && *ground > point.y + walked * rise + 1e-3) return false;
    }
}

float luminance(const float* p) { return 0.2126f * p[0] + 0.7152f * p[1] + 0.0722f * p[2]; }

}  // namespace

// Seen from straight above with a low sun, the ground the lighting mode draws in shadow is the
// ground a ray cast over the same heights finds in shadow, walking from each sample towards the
// sun; the pixels compared are those whose ground lies at a sample. A pixel is taken to be in
// shadow where the shadows leave it less than half its light without them; only ground that faces
// the sun well enough for the sun's share of its light to tell is counted.
TEST_F(Scene, ShadowsFromAboveAgreeWithARayCastOverTheSameHeights) {
    const std::string ridge = writeMap("ridge.bmp", 96, 96, [](int j, int i) {
        // A ridge running north and south, notched so that the shadow's edge is not straight.
        const double crest = 255.0 * std::exp(-(j - 40.0) * (j - 40.0) / 40.0);
        return static_cast<uint8_t>(std::lround(i % 32 < 6 ? crest * 0.4 : crest));
    });
    const struct {
        const char* name;
        std::string map;
        SunPosition sun;
        // Olinda's hills are low: steeper, more of them face the sun enough to count.
        double exaggeration;
    } cases[] = {
        {"ridge, sun in the west", ridge, {262.0, 14.0}, 1.0},
        {"Olinda, sun in the north-west", std::string(KELTA_TEST_DATA_DIR) + "/elevation/olinda_dem_utm25s.tif",
         {300.0, 5.0}, 2.0},
    };
    Application& app = gltest::application();
    for (const auto& example : cases) {
        SCOPED_TRACE(example.name);
        app.terrainOptions = TerrainOptions();
        app.terrainOptions.sunPlacement = example.sun;
        app.terrainOptions.exaggeration = example.exaggeration;
        app.terrainMode = 4;
        const TerrainShader sunlit;
        Terrain& terrain = *makeTerrain({example.map});
        terrain.shader = const_cast<TerrainShader*>(&sunlit);
        const float width = (terrain.gridWidth - 1) * terrain.geometry.columnSpacing;
        const float depth = (terrain.gridHeight - 1) * terrain.geometry.rowSpacing;
        constexpr int SIDE = 512;
        SceneTarget wide(SIDE);
        app.projection = perspective(20.0f * 3.1415927f / 180.0f, 1.0f, 1.0f, 1.0e6f);
        look({0.5f * width, 3.0f * std::max(width, depth), -0.5f * depth}, DOWN, NORTH);

        const Atmosphere air(sunDirection(example.sun));
        const auto drawn = [&](bool shadowed) {
            terrain.setSun(example.sun, shadowed, &air);
            EXPECT_TRUE(terrain.settleWithoutDrawing(SIDE, std::chrono::steady_clock::now() + std::chrono::seconds(60)));
            wide.begin();
            terrain.draw();
            return wide.read(0);
        };
        const std::vector<float> withShadows = drawn(true), without = drawn(false);
        // The sky's light alone: that of the ground facing away from the sun, among the least of
        // all (the least may be a pixel at the map's edge that the picking and the drawing split).
        std::vector<float> groundLight;
        std::vector<std::optional<GroundHit>> hits(size_t(SIDE) * SIDE);
        for (int y = 0; y < SIDE; ++y) {
            for (int x = 0; x < SIDE; ++x) {
                const Ray ray = cursorRay(x + 0.5, SIDE - (y + 0.5), SIDE, SIDE, app.modelview, app.projection);
                std::optional<GroundHit>& hit = hits[size_t(y) * SIDE + x];
                hit = terrain.pick(ray.origin, ray.direction);
                if (hit && hit->hasData) groundLight.push_back(luminance(&without[(size_t(y) * SIDE + x) * 4]));
            }
        }
        ASSERT_FALSE(groundLight.empty());
        std::nth_element(groundLight.begin(), groundLight.begin() + groundLight.size() / 100, groundLight.end());
        const float skyLight = groundLight[groundLight.size() / 100];
        int counted = 0, agreeing = 0, shadowed = 0;
        for (int y = 0; y < SIDE; ++y) {
            for (int x = 0; x < SIDE; ++x) {
                const std::optional<GroundHit>& hit = hits[size_t(y) * SIDE + x];
                if (!hit || !hit->hasData) continue;
                const size_t k = (size_t(y) * SIDE + x) * 4;
                // Where the sun gives more than 1.5 times the sky's light, in shadow the ground keeps
                // less than 40% of its light and lit more than 60%, whatever the hills leave of the sky.
                const float unshadowed = luminance(&without[k]);
                if (unshadowed < 2.5f * skyLight) continue;
                const bool drawnInShadow = luminance(&withShadows[k]) < 0.5f * unshadowed;
                // The horizons are known at the samples: the pixels whose ground lies at one are
                // compared, and the reference walks from that sample.
                const float column = std::round(hit->point.x / terrain.geometry.columnSpacing);
                const float row = std::round(-hit->point.z / terrain.geometry.rowSpacing);
                vec3 sample{column * terrain.geometry.columnSpacing, 0.0f, -row * terrain.geometry.rowSpacing};
                if (std::abs(hit->point.x - sample.x) > 0.15f * terrain.geometry.columnSpacing ||
                    std::abs(hit->point.z - sample.z) > 0.15f * terrain.geometry.rowSpacing) {
                    continue;
                }
                const std::optional<float> sampleHeight = terrain.heightAt(sample.x, sample.z);
                if (!sampleHeight) continue;
                sample.y = *sampleHeight;
                const bool castInShadow = !rayReachesSun(terrain, sample, example.sun);
                ++counted;
                shadowed += castInShadow;
                agreeing += drawnInShadow == castInShadow;
            }
        }
        ASSERT_GT(counted, 500);
        EXPECT_GT(shadowed, counted / 20) << "the sun must be low enough for shadows to test";
        EXPECT_GE(agreeing, 0.97 * counted) << agreeing << " of " << counted << " agree, " << shadowed << " in shadow";
        std::cout << example.name << ": " << agreeing << " of " << counted << " pixels agree, " << shadowed
                  << " in shadow" << std::endl;
    }
}
