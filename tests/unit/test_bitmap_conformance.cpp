// Runs the BMP reader over the BMP Suite conformance images: the plain 8- and 24-bit files must
// match their PNG renderings, and no file, however broken, may crash the reader.
#include "io/Bitmap.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path SUITE = fs::path(KELTA_TEST_DATA_DIR) / "bmpsuite";

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // top row first, as PNG stores it
};

bool readPng(const fs::path& path, Picture& picture) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    picture.width = static_cast<int>(image.width);
    picture.height = static_cast<int>(image.height);
    picture.rgb.resize(PNG_IMAGE_SIZE(image));
    const bool ok = png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr) != 0;
    png_image_free(&image);
    return ok;
}

// The reference renderings, by name without ".png". "-e" marks the pixel-exact rendering of a
// file whose pixels are not square (its "-v" twin is stretched for viewing and never matches).
std::map<std::string, Picture> loadReferences() {
    std::map<std::string, Picture> references;
    for (const fs::directory_entry& entry : fs::directory_iterator(SUITE / "reference")) {
        std::string name = entry.path().stem().string();
        if (name.size() > 2 && name.compare(name.size() - 2, 2, "-e") == 0) {
            name.resize(name.size() - 2);
        }
        Picture picture;
        EXPECT_TRUE(readPng(entry.path(), picture)) << entry.path();
        references[name] = std::move(picture);
    }
    return references;
}

// A rendering serves every file whose name starts with the rendering's name ("pal8.png" shows
// "pal8topdown.bmp"); the longest such name is the most specific one.
const Picture* referenceFor(const std::map<std::string, Picture>& references, const std::string& stem) {
    const Picture* best = nullptr;
    size_t bestLength = 0;
    for (const auto& [name, picture] : references) {
        if (stem.compare(0, name.size(), name) == 0 && name.size() >= bestLength) {
            best = &picture;
            bestLength = name.size();
        }
    }
    return best;
}

void expectMatches(const Bitmap& bmp, const Picture& reference) {
    ASSERT_EQ(bmp.width, reference.width);
    ASSERT_EQ(bmp.height, reference.height);
    const size_t rowBytes = static_cast<size_t>(bmp.width) * 3;
    size_t differences = 0;
    for (int r = 0; r < bmp.height; ++r) {
        const uint8_t* loaded = bmp.pixels + r * rowBytes;
        const uint8_t* expected = reference.rgb.data() + (reference.height - 1 - r) * rowBytes;
        differences += !std::equal(loaded, loaded + rowBytes, expected);
    }
    EXPECT_EQ(differences, 0u) << "rows differing from the reference";
}

// The sanitizer build turns an image buffer smaller than its dimensions into a failure here.
void readEveryPixel(const Bitmap& bmp) {
    volatile uint8_t sink = 0;
    const size_t size = static_cast<size_t>(bmp.width) * bmp.height * 3;
    for (size_t i = 0; i < size; ++i) {
        sink = sink ^ bmp.pixels[i];
    }
}

struct Header {
    uint32_t infoHeaderSize = 0;
    uint16_t bitsPerPixel = 0;
    uint32_t compression = 0;
};

Header peekHeader(const fs::path& path) {
    uint8_t bytes[34] = {};
    std::ifstream(path, std::ios::binary).read(reinterpret_cast<char*>(bytes), sizeof bytes);
    Header header;
    header.infoHeaderSize = bytes[14] | (bytes[15] << 8) | (bytes[16] << 16) | (bytes[17] << 24);
    header.bitsPerPixel = static_cast<uint16_t>(bytes[28] | (bytes[29] << 8));
    header.compression = bytes[30] | (bytes[31] << 8) | (bytes[32] << 16) | (bytes[33] << 24);
    return header;
}

std::vector<fs::path> suiteFiles(const char* folder) {
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(SUITE / folder)) {
        if (entry.path().extension() == ".bmp") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

TEST(BitmapConformance, GoodPlainFilesMatchTheirRenderings) {
    const auto references = loadReferences();
    size_t matched = 0;
    for (const fs::path& path : suiteFiles("g")) {
        SCOPED_TRACE(path.filename().string());
        const Header header = peekHeader(path);
        // Windows headers are at least 40 bytes; shorter ones are OS/2 files, which are refused.
        const bool plain = header.infoHeaderSize >= 40 && header.compression == 0 &&
                           (header.bitsPerPixel == 8 || header.bitsPerPixel == 24);
        Bitmap bmp;
        const bool loaded = bmp.load(path.c_str());
        if (!plain) {
            EXPECT_FALSE(loaded);
            EXPECT_NE(bmp.message, "");
            continue;
        }
        ASSERT_TRUE(loaded) << bmp.message;
        const Picture* reference = referenceFor(references, path.stem().string());
        ASSERT_NE(reference, nullptr);
        expectMatches(bmp, *reference);
        ++matched;
    }
    EXPECT_GE(matched, 12u);
}

TEST(BitmapConformance, QuestionableFilesLoadCorrectlyOrAreRefused) {
    const auto references = loadReferences();
    for (const fs::path& path : suiteFiles("q")) {
        SCOPED_TRACE(path.filename().string());
        Bitmap bmp;
        if (!bmp.load(path.c_str())) {
            EXPECT_NE(bmp.message, "");
            EXPECT_EQ(bmp.pixels, nullptr);
            continue;
        }
        const Picture* reference = referenceFor(references, path.stem().string());
        ASSERT_NE(reference, nullptr) << "loaded a file with no rendering to check it against";
        expectMatches(bmp, *reference);
    }
}

TEST(BitmapConformance, BadFilesNeverCrashTheReader) {
    for (const fs::path& path : suiteFiles("b")) {
        SCOPED_TRACE(path.filename().string());
        Bitmap bmp;
        if (bmp.load(path.c_str())) {
            EXPECT_GT(bmp.width, 0);
            EXPECT_GT(bmp.height, 0);
            readEveryPixel(bmp);
        } else {
            EXPECT_NE(bmp.message, "");
            EXPECT_EQ(bmp.pixels, nullptr);
        }
    }
}
