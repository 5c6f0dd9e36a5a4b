#include "io/DataPath.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool holdsDataFolders(const fs::path& folder) {
    std::error_code error;
    return fs::is_directory(folder / "Maps", error) || fs::is_directory(folder / "Textures", error);
}

std::string executableDirectory() {
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string() : exe.parent_path().string();
}

}  // namespace

std::string chooseDataRoot(const std::string& workingDirectory, const std::string& executableDirectory) {
    if (holdsDataFolders(workingDirectory)) return workingDirectory;
    if (!executableDirectory.empty()) {
        const fs::path installed = fs::path(executableDirectory) / ".." / "share" / "kelta";
        if (holdsDataFolders(installed)) return installed.lexically_normal().string();
    }
    return (fs::path(executableDirectory) / "data").string();
}

const std::string& dataRoot() {
    static const std::string root = chooseDataRoot("", executableDirectory());
    return root;
}

std::string resolveDataPath(const std::string& name) {
    if (name.find('\\') == std::string::npos) return name;
    std::string mapped = name;
    std::replace(mapped.begin(), mapped.end(), '\\', '/');
    return (fs::path(dataRoot()) / mapped).string();
}

std::string resolveTypedPath(const std::string& name) {
    std::error_code error;
    if (name.find('\\') != std::string::npos && fs::exists(name, error)) return name;
    return resolveDataPath(name);
}

bool isGdalVirtualPath(const std::string& path) { return path.rfind("/vsi", 0) == 0; }

std::string absolutePath(const std::string& path) {
    // GDAL's virtual file systems are named from the root already, and normalising would make the
    // "//" of their URLs one ("/vsicurl/http://host/map.tif").
    if (isGdalVirtualPath(path)) return path;
    std::error_code error;
    fs::path absolute = fs::absolute(path.empty() ? "." : path, error).lexically_normal();
    if (error) return path;
    // "folder/." normalises to "folder/"; a folder is named without the trailing separator.
    if (absolute.filename().empty() && absolute.has_relative_path()) absolute = absolute.parent_path();
    return absolute.string();
}

std::string describeLookup(const std::string& name, const std::string& resolvedPath) {
    return name + ", looked for as " + absolutePath(resolvedPath) + " (data folder " + absolutePath(dataRoot()) + ")";
}
