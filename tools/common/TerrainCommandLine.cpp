// The terrain options among a tool's own, read by the one reader kelta uses.
#include "tools/common/TerrainCommandLine.h"

#include <algorithm>

bool readOptionsWithTerrain(int argc, const char* const* argv, std::vector<const char*> valueOptions,
                            std::vector<const char*> flags, TerrainOptions& terrain, bool& wantsHelp,
                            bool& wantsVersion, std::string& error,
                            const std::function<bool(const OptionReader& reader, const std::string& value)>& takeOption) {
    const std::vector<const char*>& terrainValues = terrainValueOptions();
    const std::vector<const char*>& terrainFlagNames = terrainFlags();
    valueOptions.insert(valueOptions.end(), terrainValues.begin(), terrainValues.end());
    flags.insert(flags.end(), terrainFlagNames.begin(), terrainFlagNames.end());
    return readOptions(argc, argv, valueOptions, flags, wantsHelp, wantsVersion, error,
                       [&](const OptionReader& reader, const std::string& value) {
        const std::string& name = reader.name();
        const bool isTerrainOption =
            std::find(terrainValues.begin(), terrainValues.end(), name) != terrainValues.end() ||
            std::find(terrainFlagNames.begin(), terrainFlagNames.end(), name) != terrainFlagNames.end();
        if (!isTerrainOption) return takeOption(reader, value);
        std::string expected;
        return readTerrainOption(name, value, terrain, expected) || reader.refuse(expected, error);
    });
}
