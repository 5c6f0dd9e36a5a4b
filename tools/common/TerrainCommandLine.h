// The command lines of the tools that run the program's frame: their own options and, read as
// kelta reads them, the terrain options.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/TerrainOptions.h"
#include "io/CommandLine.h"

// readOptions with the terrain options added to the tool's own: those go into `terrain`, a bad
// value refused in the tool's one line ("--exaggeration takes ..., not '0'"); the tool's own go
// to takeOption.
bool readOptionsWithTerrain(int argc, const char* const* argv, std::vector<const char*> valueOptions,
                            std::vector<const char*> flags, TerrainOptions& terrain, bool& wantsHelp,
                            bool& wantsVersion, std::string& error,
                            const std::function<bool(const OptionReader& reader, const std::string& value)>& takeOption);
