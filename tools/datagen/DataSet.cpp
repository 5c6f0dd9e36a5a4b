// Writes the generated data set as BMP files under Maps/ and Textures/ of an output folder.
#include "gpu/BitmapWriter.h"
#include "tools/datagen/DataGen.h"

#include <filesystem>
#include <system_error>

namespace datagen {

namespace {

std::string mapFile(int size) { return "Maps/Lake_" + std::to_string(size) + ".bmp"; }
std::string materialFile(Material material) { return std::string("Textures/") + materialName(material) + ".bmp"; }
const char* const SKY_FILE = "Textures/Skydome.bmp";

bool makeFolder(const std::filesystem::path& folder, std::string& error) {
    std::error_code code;
    std::filesystem::create_directories(folder, code);
    if (code || !std::filesystem::is_directory(folder, code)) {
        error = "Cannot create folder " + folder.string() + (code ? ": " + code.message() : "");
        return false;
    }
    return true;
}

bool save(const std::filesystem::path& path, const std::vector<uint8_t>& bytes, std::string& error) {
    if (!writeFile(path.string(), bytes)) {
        error = "Cannot write file " + path.string();
        return false;
    }
    return true;
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
    std::vector<std::string> files{mapFile(options.mapSize)};
    if (!options.onlyMap) {
        for (int k = 0; k < MATERIAL_COUNT; ++k) files.push_back(materialFile(static_cast<Material>(k)));
        files.push_back(SKY_FILE);
    }
    return files;
}

bool writeDataSet(const DataSetOptions& options, std::string& error) {
    const std::filesystem::path root(options.outputDir);
    if (!makeFolder(root / "Maps", error)) return false;
    if (!options.onlyMap && !makeFolder(root / "Textures", error)) return false;

    const GreyImage map = generateHeightMap(options.mapSize, options.seed);
    if (!save(root / mapFile(options.mapSize), encodeGreyBitmap8(map.width, map.height, map.pixels.data()), error))
        return false;
    if (options.onlyMap) return true;

    for (int k = 0; k < MATERIAL_COUNT; ++k) {
        const Material material = static_cast<Material>(k);
        const RgbImage image = generateMaterial(material, MATERIAL_SIZE, options.seed);
        if (!save(root / materialFile(material), encodeBitmap24(image.width, image.height, image.pixels.data()), error))
            return false;
    }
    const RgbImage sky = generateSkydome(SKY_SIZE, options.seed);
    return save(root / SKY_FILE, encodeBitmap24(sky.width, sky.height, sky.pixels.data()), error);
}

}  // namespace datagen
