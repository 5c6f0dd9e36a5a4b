// A fresh folder under the system's temporary folder for a test's files, removed with everything
// in it when the test ends.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kelta-test-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempFolder() {
        std::error_code error;
        std::filesystem::remove_all(path, error);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The path of `name` in the folder.
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    // Writes the bytes into `name` in the folder and returns its path.
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        std::ofstream(path / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return *this / name;
    }

    std::filesystem::path path;
};
