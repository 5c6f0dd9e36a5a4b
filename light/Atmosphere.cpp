// The atmosphere's tables, made by full-screen passes into float textures, and the sky drawn from them.
#include "light/Atmosphere.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <vector>

#include "ShaderSources.h"
#include "gpu/Shader.h"
#include "gpu/TextureUnits.h"
#include "io/AtomicFile.h"
#include "post/FullScreenEffect.h"

namespace {

constexpr float BOTTOM_RADIUS_METRES = 6360000.0f;
constexpr float PI = 3.14159265f;

// The sun above the atmosphere, a little bluer than white so that the air, which takes more blue
// than red, leaves a high sun's light at the ground near (1, 0.98, 0.9).
const vec3 SUN_ILLUMINANCE{1.07f, 1.14f, 1.19f};
// The final pass writes its tone-mapped values without an sRGB encoding, which darkens every mid
// tone: at its physical radiance, about a tenth of a sunlit white surface's, a noon sky would show
// as navy beside the ground. The sky and the air in front of the terrain are raised by this so that
// they show as they are seen beside sunlit ground; the light they shed on the ground is not. More
// would push the noon horizon over the bright-pass threshold, and all of it would bloom.
constexpr float SKY_DISPLAY_GAIN = 3.0f;
// As the light fails after sunset the eye adapts, and a sky a thousand times darker than at noon
// is still seen as a deep blue: the sky is raised further by as much as its light on the ground has
// fallen below that of a sun a degree high, up to a limit that the sky passes in the nautical
// twilight, so that night still falls.
constexpr float ADAPTATION_REFERENCE_LUMINANCE = 0.013f;
constexpr float GREATEST_ADAPTATION = 40.0f;
const vec3 LUMINANCE_WEIGHTS{0.2126f, 0.7152f, 0.0722f};

// The sky's light is taken where the camera is; the sun's own, above the air, counts too, so that
// a camera high in the thin air of a day, under a dark sky, is not taken to be in the night.
float twilightAdaptation(const vec3& skyIrradianceMean, const vec3& sun) {
    const vec3 skyIrradiance = skyIrradianceMean * SUN_ILLUMINANCE * PI;
    const float daylight = dot(skyIrradiance + SUN_ILLUMINANCE * std::max(sun.y, 0.0f), LUMINANCE_WEIGHTS);
    const float fallen = ADAPTATION_REFERENCE_LUMINANCE / std::max(daylight, 1e-12f);
    return std::clamp(fallen, 1.0f, GREATEST_ADAPTATION);
}

// The horizon seen from a camera at this altitude, as the sky-view table's coordinates take it: the
// zenith cosine of the geometric horizon, the angle the ground spans from the nadir up to it, and
// its zenith angle.
vec3 skyViewHorizonAt(float altitudeMetres) {
    const double bottom = BOTTOM_RADIUS_METRES, radius = bottom + std::max(altitudeMetres, 0.0f);
    const double dipSin = std::sqrt((radius - bottom) * (radius + bottom)) / radius;
    const double groundAngle = std::acos(dipSin);
    return vec3{float(-dipSin), float(groundAngle), float(M_PI - groundAngle)};
}

// Any of the atmosphere's programs, with every location that one of them takes.
class AtmosphereProgram : public Shader {
public:
    AtmosphereLocations tables;
    GLint tableSizeLocation = -1;
    GLint multipleScatteringTableLocation = -1;
    GLint cameraRadiusLocation = -1;
    GLint sunZenithCosLocation = -1;
    GLint modelviewLocation = -1;
    GLint projectionLocation = -1;
    GLint farDepthLocation = -1;

    AtmosphereProgram(const char* vertexSource, const char* fragmentSource)
        : Shader(vertexSource, fragmentSource),
          tables(program),
          vertexSource(vertexSource),
          fragmentSource(fragmentSource) {
        tableSizeLocation = glGetUniformLocation(program, "tableSize");
        multipleScatteringTableLocation = glGetUniformLocation(program, "multipleScatteringTable");
        cameraRadiusLocation = glGetUniformLocation(program, "cameraRadius");
        sunZenithCosLocation = glGetUniformLocation(program, "sunZenithCos");
        modelviewLocation = glGetUniformLocation(program, "modelview");
        projectionLocation = glGetUniformLocation(program, "projection");
        farDepthLocation = glGetUniformLocation(program, "farDepth");
    }

    const char* getVertexSource() override { return vertexSource; }
    const char* getFragmentSource() override { return fragmentSource; }

private:
    const char* vertexSource;
    const char* fragmentSource;
};

std::unique_ptr<FullScreenEffect> makePass(const char* vertexSource, const char* fragmentSource) {
    return std::make_unique<FullScreenEffect>(std::make_unique<AtmosphereProgram>(vertexSource, fragmentSource));
}

std::unique_ptr<FullScreenEffect> makeTablePass(const char* fragmentSource) {
    return makePass(glsl::fullScreenVert, fragmentSource);
}

const AtmosphereProgram& programOf(const FullScreenEffect& pass) {
    return static_cast<const AtmosphereProgram&>(*pass.shader);
}

void bindTexture(TextureUnit unit, GLint location, GLuint texture) {
    glActiveTexture(GL_TEXTURE0 + unit);
    glBindTexture(GL_TEXTURE_2D, texture);
    glUniform1i(location, unit);
}

// The table passes may run inside a frame: the frame's target, viewport and blending come back after them.
class SavedTarget {
public:
    SavedTarget() {
        glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &framebuffer);
        glGetIntegerv(GL_VIEWPORT, viewport);
        wasBlending = glIsEnabled(GL_BLEND) == GL_TRUE;
        glDisable(GL_BLEND);
    }
    ~SavedTarget() {
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(framebuffer));
        glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
        if (wasBlending) glEnable(GL_BLEND);
        glBindVertexArray(0);
        glUseProgram(0);
    }
    SavedTarget(const SavedTarget&) = delete;
    SavedTarget& operator=(const SavedTarget&) = delete;

private:
    GLint framebuffer = 0;
    GLint viewport[4] = {};
    bool wasBlending = false;
};

// The tables that depend on the atmosphere alone, as kept between runs: a first line saying what
// made them (the programs' source and the driver, whose arithmetic they are), then the texels of
// the transmittance table and of the multiple-scattering table as floats. A file that says anything
// else, or is cut short, is computed again and replaced.
const char* const KEPT_TABLES_TITLE = "KELTA atmosphere tables";

std::string keptTablesIdentity() {
    const auto text = [](GLenum name) {
        const GLubyte* value = glGetString(name);
        return value ? std::string(reinterpret_cast<const char*>(value)) : std::string();
    };
    const size_t sources = std::hash<std::string>{}(std::string(glsl::fullScreenVert) + glsl::transmittanceTableFrag +
                                                   glsl::multipleScatteringTableFrag);
    std::ostringstream identity;
    identity << KEPT_TABLES_TITLE << " " << std::hex << sources << " " << text(GL_RENDERER) << " " << text(GL_VERSION)
             << "\n";
    return identity.str();
}

size_t texelBytes(int width, int height) { return size_t(width) * size_t(height) * 4 * sizeof(float); }

float clampedAltitude(float metres) { return std::clamp(metres, 0.0f, Atmosphere::HIGHEST_CAMERA_ALTITUDE_METRES); }

vec3 unitOrZenith(const vec3& direction) {
    const float directionLength = length(direction);
    return directionLength > 0.0f ? direction * (1.0f / directionLength) : vec3{0.0f, 1.0f, 0.0f};
}

}  // namespace

AtmosphereLocations::AtmosphereLocations(GLuint program)
    : transmittanceTable(glGetUniformLocation(program, "transmittanceTable")),
      skyViewTable(glGetUniformLocation(program, "skyViewTable")),
      skyIrradiance(glGetUniformLocation(program, "skyIrradianceMean")),
      sunDirection(glGetUniformLocation(program, "sunDirection")),
      cameraAltitude(glGetUniformLocation(program, "cameraAltitude")),
      sunIlluminance(glGetUniformLocation(program, "sunIlluminance")),
      skyRadianceScale(glGetUniformLocation(program, "skyRadianceScale")),
      skyViewHorizon(glGetUniformLocation(program, "skyViewHorizon")) {}

Atmosphere::Table::Table(int width, int height, GLenum internalFormat) : width(width), height(height) {
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, internalFormat, width, height, 0, GL_RGBA, GL_FLOAT, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    GLint previous = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &previous);
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(previous));
}

Atmosphere::Table::~Table() {
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteTextures(1, &texture);
}

void Atmosphere::Table::bindAsTarget() const {
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffer);
    glViewport(0, 0, width, height);
}

Atmosphere::Atmosphere(const vec3& sunDirection, float cameraAltitudeMetres, const std::string& tableFolder)
    // Transmittance falls to a few millionths along rays near the horizon, below half-float
    // precision; the sky's light keeps its relative precision in half floats.
    : transmittance(TRANSMITTANCE_WIDTH, TRANSMITTANCE_HEIGHT, GL_RGBA32F),
      multipleScattering(MULTIPLE_SCATTERING_SIDE, MULTIPLE_SCATTERING_SIDE, GL_RGBA32F),
      skyView(SKY_VIEW_WIDTH, SKY_VIEW_HEIGHT, GL_RGBA16F),
      skyIrradiance(1, 1, GL_RGBA16F),
      transmittancePass(makeTablePass(glsl::transmittanceTableFrag)),
      multipleScatteringPass(makeTablePass(glsl::multipleScatteringTableFrag)),
      skyViewPass(makeTablePass(glsl::skyViewTableFrag)),
      skyIrradiancePass(makeTablePass(glsl::skyIrradianceTableFrag)),
      skyPass(makePass(glsl::atmosphereSkyVert, glsl::atmosphereSkyFrag)),
      sun(unitOrZenith(sunDirection)),
      altitude(clampedAltitude(cameraAltitudeMetres)) {
    SavedTarget saved;
    const std::string keptPath =
        tableFolder.empty() ? std::string() : (std::filesystem::path(tableFolder) / "atmosphere-tables").string();
    const std::string identity = keptTablesIdentity();
    fixedTablesKept = !keptPath.empty() && readKeptTables(keptPath, identity);
    if (!fixedTablesKept) {
        computeFixedTables();
        if (!keptPath.empty()) keepTables(keptPath, identity);
    }

    computeSkyView();
}

Atmosphere::~Atmosphere() = default;

void Atmosphere::computeFixedTables() {
    const AtmosphereProgram& transmittanceProgram = programOf(*transmittancePass);
    glUseProgram(transmittanceProgram.program);
    glUniform2f(transmittanceProgram.tableSizeLocation, TRANSMITTANCE_WIDTH, TRANSMITTANCE_HEIGHT);
    fill(transmittance, *transmittancePass);

    const AtmosphereProgram& multipleProgram = programOf(*multipleScatteringPass);
    glUseProgram(multipleProgram.program);
    glUniform2f(multipleProgram.tableSizeLocation, MULTIPLE_SCATTERING_SIDE, MULTIPLE_SCATTERING_SIDE);
    bindTexture(TRANSMITTANCE_TABLE_UNIT, multipleProgram.tables.transmittanceTable, transmittance.texture);
    fill(multipleScattering, *multipleScatteringPass);
}

bool Atmosphere::readKeptTables(const std::string& path, const std::string& identity) {
    std::ifstream file(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const size_t transmittanceBytes = texelBytes(transmittance.width, transmittance.height);
    const size_t multipleBytes = texelBytes(multipleScattering.width, multipleScattering.height);
    if (bytes.size() != identity.size() + transmittanceBytes + multipleBytes || bytes.compare(0, identity.size(), identity) != 0) {
        return false;
    }
    const auto upload = [&](const Table& table, size_t offset) {
        std::vector<float> texels(texelBytes(table.width, table.height) / sizeof(float));
        std::memcpy(texels.data(), bytes.data() + offset, texels.size() * sizeof(float));
        glBindTexture(GL_TEXTURE_2D, table.texture);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, table.width, table.height, GL_RGBA, GL_FLOAT, texels.data());
    };
    upload(transmittance, identity.size());
    upload(multipleScattering, identity.size() + transmittanceBytes);
    glBindTexture(GL_TEXTURE_2D, 0);
    return true;
}

void Atmosphere::keepTables(const std::string& path, const std::string& identity) const {
    std::string bytes = identity;
    GLint reading = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &reading);
    for (const Table* table : {&transmittance, &multipleScattering}) {
        std::vector<float> texels(texelBytes(table->width, table->height) / sizeof(float));
        glBindFramebuffer(GL_READ_FRAMEBUFFER, table->framebuffer);
        glReadPixels(0, 0, table->width, table->height, GL_RGBA, GL_FLOAT, texels.data());
        bytes.append(reinterpret_cast<const char*>(texels.data()), texels.size() * sizeof(float));
    }
    glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(reading));
    // A folder that cannot be written only costs computing the tables again.
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    std::string message;
    replaceFile(path, bytes, message);
}

void Atmosphere::fill(const Table& table, FullScreenEffect& pass) const {
    table.bindAsTarget();
    pass.draw();
}

void Atmosphere::update(const vec3& sunDirection, float cameraAltitudeMetres) {
    const vec3 newSun = unitOrZenith(sunDirection);
    const float newAltitude = clampedAltitude(cameraAltitudeMetres);
    const bool sunTurned = dot(newSun, sun) < std::cos(SUN_TURN_THRESHOLD);
    const float altitudeStep = std::max(ALTITUDE_STEP_METRES, ALTITUDE_STEP_FRACTION * altitude);
    const bool altitudeChanged = std::fabs(newAltitude - altitude) > altitudeStep;
    if (!sunTurned && !altitudeChanged) return;
    sun = newSun;
    altitude = newAltitude;
    SavedTarget saved;
    computeSkyView();
}

void Atmosphere::computeSkyView() {
    const AtmosphereProgram& viewProgram = programOf(*skyViewPass);
    glUseProgram(viewProgram.program);
    glUniform2f(viewProgram.tableSizeLocation, SKY_VIEW_WIDTH, SKY_VIEW_HEIGHT);
    glUniform1f(viewProgram.cameraRadiusLocation, (BOTTOM_RADIUS_METRES + altitude) * 0.001f);
    glUniform1f(viewProgram.sunZenithCosLocation, sun.y);
    skyViewHorizon = skyViewHorizonAt(altitude);
    glUniform3f(viewProgram.tables.skyViewHorizon, skyViewHorizon.x, skyViewHorizon.y, skyViewHorizon.z);
    bindTexture(TRANSMITTANCE_TABLE_UNIT, viewProgram.tables.transmittanceTable, transmittance.texture);
    bindTexture(MULTIPLE_SCATTERING_TABLE_UNIT, viewProgram.multipleScatteringTableLocation,
                multipleScattering.texture);
    fill(skyView, *skyViewPass);

    // Only the sky-view table is bound here: the irradiance table is the target.
    const AtmosphereProgram& irradianceProgram = programOf(*skyIrradiancePass);
    glUseProgram(irradianceProgram.program);
    setSun(irradianceProgram.tables);
    bindTexture(SKY_VIEW_TABLE_UNIT, irradianceProgram.tables.skyViewTable, skyView.texture);
    fill(skyIrradiance, *skyIrradiancePass);
    // Read back once here, so that the programs that light by it take a uniform instead of
    // sampling a texture at every fragment.
    GLint reading = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &reading);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, skyIrradiance.framebuffer);
    float texel[4] = {};
    glReadPixels(0, 0, 1, 1, GL_RGBA, GL_FLOAT, texel);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(reading));
    skyIrradianceMean = vec3{texel[0], texel[1], texel[2]};
    skyRadianceScale = SUN_ILLUMINANCE * (PI * SKY_DISPLAY_GAIN * twilightAdaptation(skyIrradianceMean, sun));
    ++skyViewCount;
}

void Atmosphere::setSun(const AtmosphereLocations& locations) const {
    glUniform3f(locations.sunDirection, sun.x, sun.y, sun.z);
    glUniform1f(locations.cameraAltitude, altitude);
    glUniform3f(locations.sunIlluminance, SUN_ILLUMINANCE.x, SUN_ILLUMINANCE.y, SUN_ILLUMINANCE.z);
    glUniform3f(locations.skyRadianceScale, skyRadianceScale.x, skyRadianceScale.y, skyRadianceScale.z);
    glUniform3f(locations.skyViewHorizon, skyViewHorizon.x, skyViewHorizon.y, skyViewHorizon.z);
}

void Atmosphere::bindTables(const AtmosphereLocations& locations) const {
    setSun(locations);
    bindTexture(TRANSMITTANCE_TABLE_UNIT, locations.transmittanceTable, transmittance.texture);
    bindTexture(SKY_VIEW_TABLE_UNIT, locations.skyViewTable, skyView.texture);
    glUniform3f(locations.skyIrradiance, skyIrradianceMean.x, skyIrradianceMean.y, skyIrradianceMean.z);
}

void Atmosphere::drawSky(const mat4& modelview, const mat4& projection) {
    const bool wasDepthTesting = glIsEnabled(GL_DEPTH_TEST) == GL_TRUE;
    GLint depthFunction = GL_LESS;
    GLboolean depthWriting = GL_TRUE;
    glGetIntegerv(GL_DEPTH_FUNC, &depthFunction);
    glGetBooleanv(GL_DEPTH_WRITEMASK, &depthWriting);
    // The sky lies on the far plane and passes only where the depth is still as cleared: the
    // ground drawn first hides the sky behind it before it is shaded. The reversed convention
    // (a greater-than test) clears to 0, the standard one to 1.
    const bool reversed = depthFunction == GL_GREATER || depthFunction == GL_GEQUAL;
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(reversed ? GL_GEQUAL : GL_LEQUAL);
    glDepthMask(GL_FALSE);
    const AtmosphereProgram& skyProgram = programOf(*skyPass);
    glUseProgram(skyProgram.program);
    glUniform1f(skyProgram.farDepthLocation, reversed ? 0.0f : 1.0f);
    glUniformMatrix4fv(skyProgram.modelviewLocation, 1, GL_FALSE, modelview.data());
    glUniformMatrix4fv(skyProgram.projectionLocation, 1, GL_FALSE, projection.data());
    bindTables(skyProgram.tables);
    skyPass->draw();
    glBindVertexArray(0);
    glUseProgram(0);
    glDepthFunc(static_cast<GLenum>(depthFunction));
    glDepthMask(depthWriting);
    if (!wasDepthTesting) glDisable(GL_DEPTH_TEST);
}
