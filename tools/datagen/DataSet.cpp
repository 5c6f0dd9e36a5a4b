// Writes the generated data set as BMP files (the height map optionally as a PNG) under Maps/ and
// Textures/ of an output folder.
#include "io/AtomicFile.h"
#include "io/BitmapWriter.h"
#include "io/HeightMap.h"
#include "tools/datagen/DataGen.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

namespace datagen {

namespace {

std::string mapFile(int size, MapFormat format) {
    return "Maps/Lake_" + std::to_string(size) + (format == MapFormat::Png16 ? ".png" : ".bmp");
}

// kelta reads Maps/Lake_512.bmp when given no map, so a whole data set holds it whatever map was
// asked for.
bool needsDefaultMap(const DataSetOptions& options) {
    return !options.onlyMap && (options.mapSize != DEFAULT_MAP_SIZE || options.mapFormat != MapFormat::Bmp8);
}
std::string materialFile(Material material) { return std::string("Textures/") + materialName(material) + ".bmp"; }
const char* const SKY_FILE = "Textures/Skydome.bmp";

bool makeFolder(const std::filesystem::path& folder, std::string& error) {
    std::error_code code;
    std::filesystem::create_directories(folder, code);
    if (code || !std::filesystem::is_directory(folder, code)) {
        error = "cannot create folder " + folder.string() + (code ? ": " + code.message() : "");
        return false;
    }
    return true;
}

struct GeneratedFile {
    std::filesystem::path path;
    std::string relativePath;
    std::vector<uint8_t> bytes;
};

// Whether the file holds exactly these bytes.
bool holdsExactly(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::error_code code;
    if (std::filesystem::file_size(path, code) != bytes.size() || code) return false;
    std::ifstream in(path, std::ios::binary);
    std::vector<char> content(bytes.size());
    return in.read(content.data(), static_cast<std::streamsize>(content.size())) &&
           std::equal(content.begin(), content.end(), bytes.begin(),
                      [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
}

// A file of the same name that this run would not write is someone's own work.
bool refuseForeignFiles(const std::vector<GeneratedFile>& files, std::string& error) {
    for (const GeneratedFile& file : files) {
        std::error_code code;
        if (std::filesystem::exists(file.path, code) && !holdsExactly(file.path, file.bytes)) {
            error = "refusing to replace " + file.path.string() +
                    ": it differs from what this run writes, so it is not taken for kelta-datagen's own "
                    "(--force replaces it)";
            return false;
        }
    }
    return true;
}

std::vector<GeneratedFile> generate(const DataSetOptions& options, const std::filesystem::path& root) {
    std::vector<GeneratedFile> files;
    auto add = [&](const std::string& relativePath, std::vector<uint8_t> bytes) {
        files.push_back({root / relativePath, relativePath, std::move(bytes)});
    };
    auto addMap = [&](int size, MapFormat format) {
        if (format == MapFormat::Png16) {
            const HeightField field = generateHeightField(size, options.seed);
            add(mapFile(size, format), encodeGreyPng16(field.width, field.height, quantiseTo16Bits(field).data()));
        } else {
            const GreyImage map = generateHeightMap(size, options.seed);
            add(mapFile(size, format), encodeGreyBitmap8(map.width, map.height, map.pixels.data()));
        }
    };
    addMap(options.mapSize, options.mapFormat);
    if (needsDefaultMap(options)) addMap(DEFAULT_MAP_SIZE, MapFormat::Bmp8);
    if (options.onlyMap) return files;
    for (int k = 0; k < MATERIAL_COUNT; ++k) {
        const Material material = static_cast<Material>(k);
        const RgbImage image = generateMaterial(material, MATERIAL_SIZE, options.seed);
        add(materialFile(material), encodeBitmap24(image.width, image.height, image.pixels.data()));
    }
    const RgbImage sky = generateSkydome(SKY_SIZE, options.seed);
    add(SKY_FILE, encodeBitmap24(sky.width, sky.height, sky.pixels.data()));
    return files;
}

}  // namespace

const char* materialName(Material material) {
    switch (material) {
        case Material::Water: return "Water";
        case Material::Grass: return "Grass";
        case Material::Rock3: return "Rock3";
        case Material::Rock4: return "Rock4";
        case Material::Pebbles1: return "Pebbles1";
        case Material::Snow: return "Snow";
        case Material::Snow2: return "Snow2";
        case Material::GrassDry: return "GrassDry";
        case Material::WaterNormal: return "Water_Normal";
    }
    return "";
}

std::vector<std::string> dataSetFiles(const DataSetOptions& options) {
    std::vector<std::string> files{mapFile(options.mapSize, options.mapFormat)};
    if (needsDefaultMap(options)) files.push_back(mapFile(DEFAULT_MAP_SIZE, MapFormat::Bmp8));
    if (!options.onlyMap) {
        for (int k = 0; k < MATERIAL_COUNT; ++k) files.push_back(materialFile(static_cast<Material>(k)));
        files.push_back(SKY_FILE);
    }
    return files;
}

bool writeDataSet(const DataSetOptions& options, std::string& error,
                  const std::function<void(const std::string& relativePath)>& wrote) {
    const std::filesystem::path root(options.outputDir);
    if (!makeFolder(root / "Maps", error)) return false;
    if (!options.onlyMap && !makeFolder(root / "Textures", error)) return false;
    // A place no file can take fails at once, not after the generating.
    for (const std::string& relativePath : dataSetFiles(options)) {
        if (!checkReplaceable((root / relativePath).string(), error)) return false;
    }

    const std::vector<GeneratedFile> files = generate(options, root);
    if (!options.force && !refuseForeignFiles(files, error)) return false;
    for (const GeneratedFile& file : files) {
        const std::string_view bytes(reinterpret_cast<const char*>(file.bytes.data()), file.bytes.size());
        if (!replaceFile(file.path.string(), bytes, error)) return false;
        if (wrote) wrote(file.relativePath);
    }
    return true;
}

}  // namespace datagen
