// Finds the program's data files, whose names use '\' as the folder separator, on this file
// system: as given, then relative to the working directory, then in "data" beside the executable.
#include "gpu/DataPath.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool isFile(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error);
}

fs::path executableDirectory() {
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : exe.parent_path();
}

}  // namespace

std::string resolveDataPath(const std::string& name) {
    if (name.empty() || isFile(name)) {
        return name;
    }
    std::string mapped = name;
    std::replace(mapped.begin(), mapped.end(), '\\', '/');
    if (isFile(mapped)) {
        return mapped;
    }
    const fs::path relative(mapped);
    if (relative.is_relative()) {
        const fs::path exeDir = executableDirectory();
        if (!exeDir.empty()) {
            const fs::path besideExe = exeDir / "data" / relative;
            if (isFile(besideExe)) {
                return besideExe.string();
            }
        }
    }
    return mapped;
}
