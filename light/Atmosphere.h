// The sky and the sunlight of the Earth's atmosphere for a given sun, by Hillaire's model ("A
// Scalable and Production Ready Sky and Atmosphere Rendering Technique", 2020): Rayleigh and Mie
// scattering with ozone absorption, looked up in tables that the GPU computes. The transmittance and
// multiple-scattering tables depend on the atmosphere alone and are made once; the sky-view table
// (and the sky's irradiance, from it) depends on the sun and the camera's altitude, and is made
// again only when one of them changes noticeably.
#pragma once

#include <GL/glew.h>

#include <memory>
#include <string>

#include "math/Math.h"

class FullScreenEffect;

// Where a program that includes light/glsl/atmosphere.glsl takes the atmosphere's tables and sun;
// a location the program does not use stays -1.
struct AtmosphereLocations {
    GLint transmittanceTable = -1;
    GLint skyViewTable = -1;
    GLint skyIrradiance = -1;
    GLint sunDirection = -1;
    GLint cameraAltitude = -1;
    GLint sunIlluminance = -1;
    GLint skyRadianceScale = -1;
    GLint skyViewHorizon = -1;

    AtmosphereLocations() = default;
    explicit AtmosphereLocations(GLuint program);
};

class Atmosphere {
public:
    static constexpr int TRANSMITTANCE_WIDTH = 256;
    static constexpr int TRANSMITTANCE_HEIGHT = 64;
    static constexpr int MULTIPLE_SCATTERING_SIDE = 32;
    static constexpr int SKY_VIEW_WIDTH = 192;
    static constexpr int SKY_VIEW_HEIGHT = 108;
    // A sun that turns by less than this (radians, a tenth of a degree, a fifth of its disc) keeps
    // the sky-view table.
    static constexpr float SUN_TURN_THRESHOLD = 0.0017453293f;
    // An altitude that changes by less than the larger of these keeps it too.
    static constexpr float ALTITUDE_STEP_METRES = 10.0f;
    static constexpr float ALTITUDE_STEP_FRACTION = 0.01f;
    // The camera's altitude is taken within the atmosphere: its tables describe the sky from inside it.
    static constexpr float HIGHEST_CAMERA_ALTITUDE_METRES = 99000.0f;

    // Builds the programs and the tables, the sky-view table for the given sun (a unit vector
    // towards it, x east, y up, z south) and camera altitude.
    // The tables that depend on the atmosphere alone are read from `tableFolder` where a run on the
    // same driver kept them there, else computed and kept there; without a folder, computed.
    explicit Atmosphere(const vec3& sunDirection = {0.0f, 1.0f, 0.0f}, float cameraAltitudeMetres = 0.0f,
                        const std::string& tableFolder = {});
    // Deletes its tables and programs: the context that made them must be current.
    ~Atmosphere();
    Atmosphere(const Atmosphere&) = delete;
    Atmosphere& operator=(const Atmosphere&) = delete;

    // Makes the sky-view table again when the sun has turned or the camera's altitude has changed
    // beyond the thresholds above; otherwise does nothing. Leaves the bound framebuffer and viewport.
    void update(const vec3& sunDirection, float cameraAltitudeMetres);
    // Covers the bound target with the sky seen through the given view, the sun's disc in it, and
    // its bright pass in output 1, wherever the depth is still as cleared (the far plane in either
    // depth convention): drawn after the ground, it shades only the pixels the ground leaves. It
    // writes no depth; the depth test is left as it was.
    void drawSky(const mat4& modelview, const mat4& projection);
    // Binds the tables to their units and gives the program in use its samplers and the sun.
    void bindTables(const AtmosphereLocations& locations) const;

    // How many times the sky-view table has been made, the construction's included.
    int skyViewComputations() const { return skyViewCount; }
    // Whether the tables that depend on the atmosphere alone were read as kept rather than computed.
    bool fixedTablesWereKept() const { return fixedTablesKept; }
    const vec3& sunDirection() const { return sun; }
    // The altitude the sky-view table was made for, within the atmosphere.
    float cameraAltitudeMetres() const { return altitude; }

private:
    // A float texture with a framebuffer that draws into it.
    struct Table {
        GLuint texture = 0;
        GLuint framebuffer = 0;
        int width = 0;
        int height = 0;

        Table(int width, int height, GLenum internalFormat);
        ~Table();
        Table(const Table&) = delete;
        Table& operator=(const Table&) = delete;

        // Makes it the draw framebuffer with the viewport at its size.
        void bindAsTarget() const;
    };

    Table transmittance;
    Table multipleScattering;
    Table skyView;
    Table skyIrradiance;
    std::unique_ptr<FullScreenEffect> transmittancePass;
    std::unique_ptr<FullScreenEffect> multipleScatteringPass;
    std::unique_ptr<FullScreenEffect> skyViewPass;
    std::unique_ptr<FullScreenEffect> skyIrradiancePass;
    std::unique_ptr<FullScreenEffect> skyPass;
    vec3 sun;
    float altitude = 0.0f;
    // The irradiance table's one texel, read back when it is made.
    vec3 skyIrradianceMean;
    // The programs' uniforms that follow from the sun, the altitude and that texel.
    vec3 skyRadianceScale;
    vec3 skyViewHorizon;
    int skyViewCount = 0;
    bool fixedTablesKept = false;

    // Fills a table by one pass of the given program (in use, its uniforms set).
    void fill(const Table& table, FullScreenEffect& pass) const;
    void computeSkyView();
    // The transmittance and multiple-scattering tables: computed, read as kept (false when the file
    // is missing or is not what this driver and these programs would make), and kept.
    void computeFixedTables();
    bool readKeptTables(const std::string& path, const std::string& identity);
    void keepTables(const std::string& path, const std::string& identity) const;
    void setSun(const AtmosphereLocations& locations) const;
};
