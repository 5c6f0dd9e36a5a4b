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
