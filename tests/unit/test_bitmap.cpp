// Tests of the BMP writer, the BMP reader and the data-file lookup, on files built byte by byte.
#include "io/Bitmap.h"
#include "io/BitmapWriter.h"
#include "tests/BmpTestBytes.h"
#include "io/DataPath.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using bmptest::Bytes;
using bmptest::get32;
using bmptest::pattern;

// The grey picture expanded to the RGB the reader produces.
Bytes greyToRgb(const Bytes& grey) {
    Bytes out;
    for (uint8_t g : grey) {
        out.insert(out.end(), {g, g, g});
    }
    return out;
}

Bytes loadedPixels(const Bitmap& bmp) {
    return Bytes(bmp.pixels, bmp.pixels + static_cast<size_t>(bmp.width) * bmp.height * 3);
}

// Moves the pixel data `extra` bytes further back, with junk in between, and says so in the header.
void shiftPixelData(Bytes& file, uint32_t extra) {
    const uint32_t offset = get32(file, 10);
    file.insert(file.begin() + offset, extra, 0xA5);
    putLittleEndian32(file, 10, offset + extra);
    putLittleEndian32(file, 2, static_cast<uint32_t>(file.size()));
}

// Grows the info header to `size` bytes (the extra fields zero), moving palette and pixels behind it.
void growInfoHeader(Bytes& file, uint32_t size) {
    file.insert(file.begin() + 54, size - 40, 0);
    putLittleEndian32(file, 14, size);
    putLittleEndian32(file, 10, get32(file, 10) + size - 40);
}

// Turns a bottom-up file into the equivalent top-down one.
void makeTopDown(Bytes& file) {
    const int32_t height = static_cast<int32_t>(get32(file, 22));
    const size_t offset = get32(file, 10);
    const size_t rowBytes = (file.size() - offset) / height;
    Bytes rows(file.begin() + offset, file.end());
    for (int32_t r = 0; r < height; ++r) {
        std::copy(rows.begin() + r * rowBytes, rows.begin() + (r + 1) * rowBytes,
                  file.begin() + offset + (height - 1 - r) * rowBytes);
    }
    putLittleEndian32(file, 22, static_cast<uint32_t>(-height));
}

class TempDir {
public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "kelta-bitmap-XXXXXX").string();
        path_ = mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code error;
        fs::remove_all(path_, error);
    }
    fs::path file(const std::string& name, const Bytes& bytes) const {
        const fs::path p = path_ / name;
        fs::create_directories(p.parent_path());
        EXPECT_TRUE(writeFile(p.string(), bytes));
        return p;
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

}  // namespace

TEST(BitmapWriter, TwentyFourBitLayoutHasPaddedRowsBottomFirst) {
    const Bytes rgb = pattern(10, 3, 3);
    const Bytes file = encodeBitmap24(10, 3, rgb.data());
    ASSERT_EQ(file.size(), 54u + 32 * 3);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(get32(file, 2), file.size());
    EXPECT_EQ(get32(file, 10), 54u);
    EXPECT_EQ(get32(file, 14), 40u);
    EXPECT_EQ(get32(file, 18), 10u);
    EXPECT_EQ(get32(file, 22), 3u);
    EXPECT_EQ(file[28], 24);
    EXPECT_EQ(get32(file, 30), 0u);
    EXPECT_EQ(get32(file, 34), 32u * 3);
    // Second row, first pixel: stored blue, green, red.
    EXPECT_EQ(file[54 + 32], rgb[30 + 2]);
    EXPECT_EQ(file[54 + 32 + 2], rgb[30]);
    EXPECT_EQ(file[54 + 30], 0);
    EXPECT_EQ(file[54 + 31], 0);
}

TEST(BitmapWriter, GreyLayoutHasFullGreyPalette) {
    const Bytes grey = pattern(5, 2, 1);
    const Bytes file = encodeGreyBitmap8(5, 2, grey.data());
    ASSERT_EQ(file.size(), 1078u + 8 * 2);
    EXPECT_EQ(get32(file, 2), file.size());
    EXPECT_EQ(get32(file, 10), 1078u);
    EXPECT_EQ(file[28], 8);
    EXPECT_EQ(get32(file, 46), 256u);
    for (uint32_t i : {0u, 1u, 200u, 255u}) {
        EXPECT_EQ(get32(file, 54 + i * 4), i | (i << 8) | (i << 16)) << "entry " << i;
    }
    EXPECT_EQ(file[1078 + 8 + 4], grey[5 + 4]);
}

TEST(BitmapWriter, RefusesEmptyOrOversizedImages) {
    const Bytes one(3, 0);
    EXPECT_TRUE(encodeBitmap24(0, 1, one.data()).empty());
    EXPECT_TRUE(encodeBitmap24(1, -1, one.data()).empty());
    EXPECT_TRUE(encodeGreyBitmap8(32769, 1, one.data()).empty());
    EXPECT_TRUE(encodeGreyBitmap8(1, 1, nullptr).empty());
    EXPECT_FALSE(writeFile("/nonexistent-kelta-dir/x.bmp", {1, 2, 3}));
}

TEST(Bitmap, StartsEmpty) {
    Bitmap bmp;
    EXPECT_EQ(bmp.palette, nullptr);
    EXPECT_EQ(bmp.pixels, nullptr);
    EXPECT_FALSE(bmp.isLoaded);
    EXPECT_TRUE(bmp.message.empty());
}

TEST(Bitmap, TwentyFourBitRoundTripsWithAndWithoutRowPadding) {
    for (int width : {512, 10, 1, 3}) {
        SCOPED_TRACE(width);
        const Bytes rgb = pattern(width, 4, 3);
        Bytes file = encodeBitmap24(width, 4, rgb.data());
        // Padding bytes must never reach the image.
        const size_t padded = (width * 3 + 3) & ~3;
        for (size_t r = 0; r < 4; ++r) {
            for (size_t i = width * 3; i < padded; ++i) {
                file[54 + r * padded + i] = 0xEE;
            }
        }
        Bitmap bmp;
        ASSERT_TRUE(bmp.loadFromMemory(file.data(), file.size())) << bmp.message;
        EXPECT_EQ(bmp.message, "Bitmap loaded");
        EXPECT_EQ(bmp.width, width);
        EXPECT_EQ(bmp.height, 4);
        EXPECT_EQ(bmp.bitsPerPixel, 24);
        EXPECT_EQ(bmp.rowSize, width * 3);
        EXPECT_EQ(bmp.paddedRowSize, static_cast<int32_t>(padded));
        EXPECT_EQ(bmp.dataSize, static_cast<uint32_t>(width * 4 * 3));
        EXPECT_EQ(bmp.palette, nullptr);
        EXPECT_EQ(loadedPixels(bmp), rgb);
    }
}

TEST(Bitmap, WideRowsOf512PixelsAre1536BytesWithoutPadding) {
    const Bytes rgb = pattern(512, 512, 3);
    const Bytes file = encodeBitmap24(512, 512, rgb.data());
    ASSERT_EQ(file.size(), 54u + 512 * 512 * 3);
    Bitmap bmp;
    ASSERT_TRUE(bmp.loadFromMemory(file.data(), file.size()));
    EXPECT_EQ(bmp.rowSize, 1536);
    EXPECT_EQ(bmp.paddedRowSize, 1536);
    EXPECT_EQ(loadedPixels(bmp), rgb);
}

TEST(Bitmap, SwapsBlueGreenRedToRedGreenBlueAndKeepsBottomRowFirst) {
    // 2 x 2: file row 0 (the bottom of the picture) holds blue 10, green 20, red 30 on the left.
    Bytes file = encodeBitmap24(2, 2, Bytes(12, 0).data());
    const uint8_t bottomRow[] = {10, 20, 30, 1, 2, 3};
    const uint8_t topRow[] = {40, 50, 60, 4, 5, 6};
    std::copy(std::begin(bottomRow), std::end(bottomRow), file.begin() + 54);
    std::copy(std::begin(topRow), std::end(topRow), file.begin() + 54 + 8);
    Bitmap bmp;
    ASSERT_TRUE(bmp.loadFromMemory(file.data(), file.size()));
    EXPECT_EQ(loadedPixels(bmp), (Bytes{30, 20, 10, 3, 2, 1, 60, 50, 40, 6, 5, 4}));
}

TEST(Bitmap, EightBitIndicesAreUnsignedPaletteLookups) {
    const Bytes grey = {0, 200, 255, 7};
    Bytes file = encodeGreyBitmap8(2, 2, grey.data());
    // Entry 200 becomes blue 1, green 2, red 3; entry 255 keeps its grey.
    file[54 + 200 * 4] = 1;
    file[54 + 200 * 4 + 1] = 2;
    file[54 + 200 * 4 + 2] = 3;
    Bitmap bmp;
    ASSERT_TRUE(bmp.loadFromMemory(file.data(), file.size())) << bmp.message;
    EXPECT_EQ(bmp.bitsPerPixel, 8);
    EXPECT_EQ(bmp.rowSize, 2);
    EXPECT_EQ(bmp.paddedRowSize, 4);
    ASSERT_NE(bmp.palette, nullptr);
    EXPECT_TRUE(std::equal(bmp.palette, bmp.palette + 1024, file.begin() + 54));
    EXPECT_EQ(loadedPixels(bmp), (Bytes{0, 0, 0, 3, 2, 1, 255, 255, 255, 7, 7, 7}));
}

TEST(Bitmap, GreyImagesHaveEqualChannels) {
    const Bytes grey = pattern(33, 17, 1);
    const Bytes file = encodeGreyBitmap8(33, 17, grey.data());
    Bitmap bmp;
    ASSERT_TRUE(bmp.loadFromMemory(file.data(), file.size()));
    EXPECT_EQ(loadedPixels(bmp), greyToRgb(grey));
}

TEST(Bitmap, LoadsFilesWithBackslashNamesAndMatchesTheMemoryReader) {
    TempDir dir;
    const Bytes rgb = pattern(7, 5, 3);
    const Bytes file = encodeBitmap24(7, 5, rgb.data());
    dir.file("Maps/Small.bmp", file);
    Bitmap bmp;
    ASSERT_TRUE(bmp.load((dir.path().string() + "\\Maps\\Small.bmp").c_str())) << bmp.message;
    EXPECT_EQ(bmp.resolvedPath, (dir.path() / "Maps/Small.bmp").string());
    EXPECT_EQ(loadedPixels(bmp), rgb);
    EXPECT_TRUE(std::equal(bmp.fileHeader, bmp.fileHeader + 14, file.begin()));
    EXPECT_TRUE(std::equal(bmp.infoHeader, bmp.infoHeader + 40, file.begin() + 14));
}

// Catches padded rows or a top-down file's row order reaching the caller's memory, writes past its
// end, and a destination asked for before the file proved whole.
TEST(Bitmap, PixelsGoToTheCallersDestinationTightlyPackedBottomRowFirst) {
    TempDir dir;
    const Bytes rgb = pattern(3, 4, 3);
    Bytes whole = encodeBitmap24(3, 4, rgb.data());
    makeTopDown(whole);
    const fs::path path = dir.file("padded.bmp", whole);
    Bytes destination(rgb.size() + 4, 0xEE);
    int asked = 0;
    Bitmap bmp;
    ASSERT_TRUE(bmp.loadFile(path.string(), [&](const Bitmap& read) {
        ++asked;
        EXPECT_EQ(read.width, 3);
        EXPECT_EQ(read.height, 4);
        return destination.data();
    })) << bmp.message;
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(bmp.pixels, nullptr);
    EXPECT_EQ(Bytes(destination.begin(), destination.begin() + rgb.size()), rgb);
    EXPECT_EQ(Bytes(destination.begin() + rgb.size(), destination.end()), Bytes(4, 0xEE));

    ASSERT_TRUE(bmp.loadFile(path.string(), [](const Bitmap&) { return nullptr; }));
    EXPECT_EQ(loadedPixels(bmp), rgb);

    whole.resize(whole.size() - 12);
    const fs::path truncated = dir.file("truncated.bmp", whole);
    EXPECT_FALSE(bmp.loadFile(truncated.string(), [&](const Bitmap&) {
        ++asked;
        return destination.data();
    }));
    EXPECT_EQ(asked, 1);
}

TEST(Bitmap, MissingFileLeavesEarlierImageReleasedAndDimensionsUnchanged) {
    const Bytes file = encodeBitmap24(3, 2, pattern(3, 2, 3).data());
    Bitmap bmp;
    ASSERT_TRUE(bmp.loadFromMemory(file.data(), file.size()));
    EXPECT_FALSE(bmp.load("no\\such\\file.bmp"));
    EXPECT_EQ(bmp.message, "File not found");
    EXPECT_FALSE(bmp.isLoaded);
    EXPECT_EQ(bmp.pixels, nullptr);
    EXPECT_EQ(bmp.width, 3);
    EXPECT_EQ(bmp.height, 2);
    EXPECT_FALSE(bmp.load(nullptr));
    EXPECT_EQ(bmp.message, "File not found");
}

TEST(Bitmap, DirectoriesAndNamedPipesAreRefusedWithoutBlocking) {
    TempDir dir;
    const fs::path pipe = dir.path() / "pipe.bmp";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    Bitmap bmp;
    EXPECT_FALSE(bmp.load(pipe.c_str()));
    EXPECT_EQ(bmp.message, "File is not a regular file");
    EXPECT_FALSE(bmp.load(dir.path().c_str()));
    EXPECT_EQ(bmp.message, "File is not a regular file");
}

TEST(Bitmap, FilesWithoutTheSignatureAreNotDib) {
    TempDir dir;
    const std::string text = "This is a text file, not a picture.\n";
    const fs::path textFile = dir.file("notes.bmp", Bytes(text.begin(), text.end()));
    Bitmap bmp;
    EXPECT_FALSE(bmp.load(textFile.c_str()));
    EXPECT_EQ(bmp.message, "File is not in DIB format");
    EXPECT_EQ(std::string(bmp.fileHeader, bmp.fileHeader + 14), text.substr(0, 14));

    const fs::path empty = dir.file("empty.bmp", {});
    EXPECT_FALSE(bmp.load(empty.c_str()));
    EXPECT_EQ(bmp.message, "File is not in DIB format");

    Bytes swapped = encodeBitmap24(1, 1, Bytes(3, 0).data());
    std::swap(swapped[0], swapped[1]);
    EXPECT_FALSE(bmp.loadFromMemory(swapped.data(), swapped.size()));
    EXPECT_EQ(bmp.message, "File is not in DIB format");
}

TEST(Bitmap, OtherDepthsAreRefusedWithHeaderValuesKept) {
    for (uint16_t depth : {1, 4, 16, 32}) {
        SCOPED_TRACE(depth);
        Bytes file = encodeBitmap24(4, 3, pattern(4, 3, 3).data());
        putLittleEndian16(file, 28, depth);
        Bitmap bmp;
        EXPECT_FALSE(bmp.loadFromMemory(file.data(), file.size()));
        EXPECT_EQ(bmp.message, "File is not 8 or 24 bits per pixel");
        EXPECT_EQ(bmp.width, 4);
        EXPECT_EQ(bmp.height, 3);
        EXPECT_EQ(bmp.bitsPerPixel, depth);
        EXPECT_EQ(bmp.pixels, nullptr);
    }
}

struct Rejection {
    const char* what;
    void (*spoil)(Bytes&);
    const char* message;
};

TEST(Bitmap, RejectsUnsafeOrUnsupportedFilesWithOneMessageEach) {
    const Rejection cases[] = {
        {"cut inside the file header", [](Bytes& f) { f.resize(16); }, "File is truncated"},
        {"cut inside the info header", [](Bytes& f) { f.resize(40); }, "File is truncated"},
        {"cut inside the palette", [](Bytes& f) { f.resize(54 + 600); }, "File is truncated"},
        {"cut inside the pixels", [](Bytes& f) { f.resize(f.size() - 5); }, "File is truncated"},
        {"pixel offset past the end", [](Bytes& f) { putLittleEndian32(f, 10, 0xFFFFFFF0u); }, "File is truncated"},
        {"huge image in a small file", [](Bytes& f) { putLittleEndian32(f, 18, 32768); putLittleEndian32(f, 22, 32768); },
         "File is truncated"},
        {"zero width", [](Bytes& f) { putLittleEndian32(f, 18, 0); }, "Image width or height is zero"},
        {"zero height", [](Bytes& f) { putLittleEndian32(f, 22, 0); }, "Image width or height is zero"},
        {"negative width", [](Bytes& f) { putLittleEndian32(f, 18, static_cast<uint32_t>(-6)); }, "Image width is negative"},
        {"wide", [](Bytes& f) { putLittleEndian32(f, 18, 32769); }, "Image is larger than 32768 pixels on a side"},
        {"tall top-down", [](Bytes& f) { putLittleEndian32(f, 22, static_cast<uint32_t>(-32769)); },
         "Image is larger than 32768 pixels on a side"},
        {"most negative height", [](Bytes& f) { putLittleEndian32(f, 22, static_cast<uint32_t>(INT32_MIN)); },
         "Image is larger than 32768 pixels on a side"},
        {"widest width", [](Bytes& f) { putLittleEndian32(f, 18, INT32_MAX); }, "Image is larger than 32768 pixels on a side"},
        {"257 colours", [](Bytes& f) { putLittleEndian32(f, 46, 257); }, "File has more than 256 palette colours"},
        {"absurd colour count", [](Bytes& f) { putLittleEndian32(f, 46, 0x12345678); }, "File has more than 256 palette colours"},
        {"pixels inside the header", [](Bytes& f) { putLittleEndian32(f, 10, 20); }, "File has an invalid pixel data offset"},
        {"RLE8", [](Bytes& f) { putLittleEndian32(f, 30, 1); }, "File is compressed (RLE)"},
        {"RLE4 marked on 8 bits", [](Bytes& f) { putLittleEndian32(f, 30, 2); }, "File is compressed (RLE)"},
        {"bit fields", [](Bytes& f) { putLittleEndian32(f, 30, 3); }, "File uses bit fields"},
        {"alpha bit fields", [](Bytes& f) { putLittleEndian32(f, 30, 6); }, "File uses bit fields"},
        {"JPEG", [](Bytes& f) { putLittleEndian32(f, 30, 4); putLittleEndian16(f, 28, 0); }, "File holds embedded JPEG or PNG data"},
        {"PNG", [](Bytes& f) { putLittleEndian32(f, 30, 5); putLittleEndian16(f, 28, 0); }, "File holds embedded JPEG or PNG data"},
        {"unknown compression", [](Bytes& f) { putLittleEndian32(f, 30, 11); }, "File uses an unknown compression method"},
        {"OS/2 1.x header", [](Bytes& f) { putLittleEndian32(f, 14, 12); }, "File has an OS/2 header"},
        {"OS/2 2.x header", [](Bytes& f) { putLittleEndian32(f, 14, 64); }, "File has an OS/2 header"},
        {"OS/2 2.x short header", [](Bytes& f) { putLittleEndian32(f, 14, 16); }, "File has an OS/2 header"},
        {"odd header size", [](Bytes& f) { putLittleEndian32(f, 14, 41); }, "File has an unsupported info header size"},
        {"huge header size", [](Bytes& f) { putLittleEndian32(f, 14, 0xFFFFFFFFu); }, "File has an unsupported info header size"},
    };
    for (const Rejection& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes file = encodeGreyBitmap8(6, 5, pattern(6, 5, 1).data());
        c.spoil(file);
        Bitmap bmp;
        EXPECT_FALSE(bmp.loadFromMemory(file.data(), file.size()));
        EXPECT_EQ(bmp.message, c.message);
        EXPECT_FALSE(bmp.isLoaded);
        EXPECT_EQ(bmp.pixels, nullptr);
    }
}

TEST(Bitmap, TruncatedFilesOnDiskAreRefusedBeforeAnyLargeAllocation) {
    TempDir dir;
    Bytes file = encodeBitmap24(4, 4, pattern(4, 4, 3).data());
    putLittleEndian32(file, 18, 30000);
    putLittleEndian32(file, 22, 30000);
    const fs::path path = dir.file("huge.bmp", file);
    Bitmap bmp;
    EXPECT_FALSE(bmp.load(path.c_str()));
    EXPECT_EQ(bmp.message, "File is truncated");
}

TEST(Bitmap, ShortPaletteUsesTheHeadersColourCountAndUnknownIndicesAreBlack) {
    // Two colours: index 0 red, index 1 green; index 7 lies past the palette.
    Bytes file = encodeGreyBitmap8(3, 1, Bytes{1, 0, 7}.data());
    file.erase(file.begin() + 54 + 8, file.begin() + 1078);
    putLittleEndian32(file, 46, 2);
    putLittleEndian32(file, 10, 54 + 8);
    putLittleEndian32(file, 54, 0x00FF0000);
    putLittleEndian32(file, 58, 0x0000FF00);
    Bitmap bmp;
    ASSERT_TRUE(bmp.loadFromMemory(file.data(), file.size())) << bmp.message;
    EXPECT_EQ(loadedPixels(bmp), (Bytes{0, 255, 0, 255, 0, 0, 0, 0, 0}));
}

TEST(Bitmap, PixelDataIsReadAtTheHeadersOffset) {
    const Bytes rgb = pattern(5, 3, 3);
    Bytes file24 = encodeBitmap24(5, 3, rgb.data());
    shiftPixelData(file24, 21);
    const Bytes grey = pattern(5, 3, 1);
    Bytes file8 = encodeGreyBitmap8(5, 3, grey.data());
    shiftPixelData(file8, 100);
    Bitmap bmp;
    ASSERT_TRUE(bmp.loadFromMemory(file24.data(), file24.size())) << bmp.message;
    EXPECT_EQ(loadedPixels(bmp), rgb);
    ASSERT_TRUE(bmp.loadFromMemory(file8.data(), file8.size())) << bmp.message;
    EXPECT_EQ(loadedPixels(bmp), greyToRgb(grey));
}

TEST(Bitmap, TopDownFilesAreStoredBottomRowFirst) {
    const Bytes rgb = pattern(6, 4, 3);
    Bytes file = encodeBitmap24(6, 4, rgb.data());
    makeTopDown(file);
    Bitmap bmp;
    ASSERT_TRUE(bmp.loadFromMemory(file.data(), file.size())) << bmp.message;
    EXPECT_EQ(bmp.height, 4);
    EXPECT_EQ(loadedPixels(bmp), rgb);

    const Bytes grey = pattern(3, 5, 1);
    Bytes file8 = encodeGreyBitmap8(3, 5, grey.data());
    makeTopDown(file8);
    ASSERT_TRUE(bmp.loadFromMemory(file8.data(), file8.size())) << bmp.message;
    EXPECT_EQ(loadedPixels(bmp), greyToRgb(grey));
}

TEST(Bitmap, LongerInfoHeadersAreSkipped) {
    for (uint32_t size : {52u, 56u, 108u, 124u}) {
        SCOPED_TRACE(size);
        const Bytes rgb = pattern(3, 2, 3);
        Bytes file24 = encodeBitmap24(3, 2, rgb.data());
        growInfoHeader(file24, size);
        const Bytes grey = pattern(3, 2, 1);
        Bytes file8 = encodeGreyBitmap8(3, 2, grey.data());
        growInfoHeader(file8, size);
        Bitmap bmp;
        ASSERT_TRUE(bmp.loadFromMemory(file24.data(), file24.size())) << bmp.message;
        EXPECT_EQ(loadedPixels(bmp), rgb);
        EXPECT_TRUE(std::equal(bmp.infoHeader, bmp.infoHeader + 40, file24.begin() + 14));
        ASSERT_TRUE(bmp.loadFromMemory(file8.data(), file8.size())) << bmp.message;
        EXPECT_EQ(loadedPixels(bmp), greyToRgb(grey));
    }
}

TEST(Bitmap, MissingPaddingAfterTheLastRowIsTolerated) {
    const Bytes rgb = pattern(10, 2, 3);
    Bytes file = encodeBitmap24(10, 2, rgb.data());
    file.resize(file.size() - 2);
    Bitmap bmp;
    ASSERT_TRUE(bmp.loadFromMemory(file.data(), file.size())) << bmp.message;
    EXPECT_EQ(loadedPixels(bmp), rgb);
}

TEST(Bitmap, EmptyMemoryIsNotDib) {
    Bitmap bmp;
    EXPECT_FALSE(bmp.loadFromMemory(nullptr, 100));
    EXPECT_EQ(bmp.message, "File is not in DIB format");
}

TEST(Bitmap, RegressionInputsNeverCrash) {
    const fs::path dir = fs::path(KELTA_TEST_DATA_DIR) / "bmp-regressions";
    size_t count = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
        SCOPED_TRACE(entry.path().string());
        Bitmap bmp;
        if (bmp.load(entry.path().c_str())) {
            // Copying every pixel lets the sanitizer build catch a buffer smaller than its dimensions.
            EXPECT_EQ(loadedPixels(bmp).size(), static_cast<size_t>(bmp.width) * bmp.height * 3);
        } else {
            EXPECT_FALSE(bmp.message.empty());
            EXPECT_EQ(bmp.pixels, nullptr);
        }
        ++count;
    }
    EXPECT_GE(count, 2u);
}

TEST(DataPath, BackslashNamesComeFromTheDataRootOtherNamesAsGiven) {
    EXPECT_EQ(resolveDataPath("Textures\\Snow.bmp"), (fs::path(dataRoot()) / "Textures/Snow.bmp").string());
    EXPECT_EQ(resolveDataPath("/data set\\Maps\\Lake.bmp"), "/data set/Maps/Lake.bmp");
    EXPECT_EQ(resolveDataPath("Maps/Lake_512.bmp"), "Maps/Lake_512.bmp");
    EXPECT_EQ(resolveDataPath(""), "");
}

TEST(DataPath, TypedPathsAreReadAsGivenWhenThereAndAbsoluteForMessages) {
    TempDir dir;
    const std::string typed = (dir.path() / "my\\map.bmp").string();
    EXPECT_EQ(resolveTypedPath(typed), (dir.path() / "my/map.bmp").string());
    std::ofstream(typed) << "BM";
    EXPECT_EQ(resolveTypedPath(typed), typed);
    EXPECT_EQ(absolutePath(""), fs::current_path().string());
    EXPECT_EQ(absolutePath("a/../b.bmp"), (fs::current_path() / "b.bmp").string());
}

TEST(DataPath, OneRootIsChosenWorkingDirectoryThenInstalledThenBesideTheExecutable) {
    TempDir dir;
    const fs::path executable = dir.path() / "prefix" / "bin";
    const fs::path installed = dir.path() / "prefix" / "share" / "kelta";
    const fs::path withMaps = dir.path() / "with-maps", withTextures = dir.path() / "with-textures";
    const fs::path plain = dir.path() / "plain";
    for (const fs::path& folder : {executable, withMaps / "Maps", withTextures / "Textures", plain}) {
        fs::create_directories(folder);
    }
    EXPECT_EQ(chooseDataRoot(withMaps.string(), executable.string()), withMaps.string());
    EXPECT_EQ(chooseDataRoot(withTextures.string(), executable.string()), withTextures.string());
    EXPECT_EQ(chooseDataRoot(plain.string(), executable.string()), (executable / "data").string());
    fs::create_directories(installed / "Textures");
    EXPECT_EQ(chooseDataRoot(plain.string(), executable.string()), installed.string());
    EXPECT_EQ(chooseDataRoot(withMaps.string(), executable.string()), withMaps.string());
}
