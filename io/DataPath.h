// Where the program's data files lie. Their names use '\' as the folder separator
// ("Textures\Snow.bmp"), and all of them come from one data set, chosen once per process.
#pragma once

#include <string>

// The folder a data set is read from: the working directory when it holds a Maps or a Textures
// folder, else the installed data (share/kelta beside the executable's folder) when that holds
// one, else the "data" folder beside the executable. An empty workingDirectory means the
// current one, and is returned as such, so that names read from it stay relative.
std::string chooseDataRoot(const std::string& workingDirectory, const std::string& executableDirectory);

// chooseDataRoot for this process, chosen on the first call and kept.
const std::string& dataRoot();

// A name holding '\' is a data file: '\' becomes '/' and a relative name is taken from
// dataRoot(), whether or not the file is there. Any other name is a path of the user's,
// returned as given.
std::string resolveDataPath(const std::string& name);

// A path a person typed: read as given when something is there (a file named "my\map.bmp" in
// the working directory included), else looked up as resolveDataPath does.
std::string resolveTypedPath(const std::string& name);

// Whether the path is one of GDAL's virtual file systems (/vsicurl/http://..., /vsizip/...,
// /vsimem/...): read through GDAL whatever its name, never looked for on disk, never normalised.
bool isGdalVirtualPath(const std::string& path);

// The path made absolute from the working directory, for messages and help texts that a person
// may copy from any folder; paths of GDAL's virtual file systems (/vsicurl/http://...) as given.
std::string absolutePath(const std::string& path);

// Names a file in a message: the name as asked for, the absolute path it was read from and the
// data folder in use, "NAME, looked for as PATH (data folder FOLDER)".
std::string describeLookup(const std::string& name, const std::string& resolvedPath);
