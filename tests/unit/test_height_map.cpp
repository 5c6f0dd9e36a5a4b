// Tests of the height-map readers (BMP, PNG, raw), the 16-bit PNG writer and the data
// generator's 16-bit map, on files built byte by byte.
#include "io/BitmapWriter.h"
#include "io/HeightMap.h"
#include "tests/PngTestBytes.h"
#include "tests/TempFolder.h"
#include "tools/datagen/DataGen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using pngtest::Bytes;
using pngtest::Picture;

struct Loaded {
    bool ok = false;
    HeightSamples map;
    std::string message;
};

Loaded fromMemory(const Bytes& bytes, const std::string& name) {
    Loaded loaded;
    loaded.ok = loadHeightMapFromMemory(bytes.data(), bytes.size(), name, ElevationOptions(), loaded.map, loaded.message);
    return loaded;
}

// Reads the bytes from memory and from a file of that name, which must agree (but for the file GDAL
// names in its reasons); the size read from the file's header alone must be the loaded map's, or
// fail as loading does.
Loaded load(const Bytes& bytes, const std::string& name) {
    const Loaded memory = fromMemory(bytes, name);
    Loaded file;
    const TempFolder folder;
    const std::string path = folder.write(name, bytes);
    file.ok = loadHeightMap(path, ElevationOptions(), file.map, file.message);
    EXPECT_EQ(file.ok, memory.ok) << name;
    const std::string gdalSays = "GDAL says: ";
    EXPECT_EQ(file.message.substr(0, file.message.find(gdalSays)), memory.message.substr(0, memory.message.find(gdalSays)))
        << name;
    EXPECT_EQ(file.map.samples, memory.map.samples) << name;
    int width = 0, height = 0;
    std::string sizeMessage;
    const bool sized = readHeightMapSize(path, width, height, sizeMessage);
    if (file.ok) {
        EXPECT_TRUE(sized && width == file.map.width && height == file.map.height) << name;
    } else if (!sized) {
        EXPECT_EQ(sizeMessage, file.message) << name;
    }
    return memory;
}

// Channel values that differ from pixel to pixel and from channel to channel, each below 2^depth;
// palette entries whose red differs from their index.
Picture picture(pngtest::ColourType type, int depth, bool interlaced, int width = 13, int height = 9) {
    Picture p;
    p.width = width;
    p.height = height;
    p.colourType = type;
    p.bitDepth = depth;
    p.interlaced = interlaced;
    const size_t count = size_t(width) * height * pngtest::channelsOf(type);
    for (size_t i = 0; i < count; ++i) {
        p.values.push_back(static_cast<uint16_t>((i * 7919 + 13) % (1u << depth)));
    }
    if (type == pngtest::PALETTE) {
        for (int entry = 0; entry < (1 << depth); ++entry) {
            p.palette.insert(p.palette.end(), {static_cast<uint8_t>(255 - entry * 3), 17, static_cast<uint8_t>(entry)});
        }
    }
    return p;
}

// What the reader must make of the picture: the first channel, bottom row first, low grey depths
// spread over 0..255 and palette indices replaced by their entry's red.
std::vector<uint16_t> expectedSamples(const Picture& p) {
    const int channels = pngtest::channelsOf(p.colourType);
    std::vector<uint16_t> samples;
    for (int y = p.height - 1; y >= 0; --y) {
        for (int x = 0; x < p.width; ++x) {
            const uint16_t value = p.values[(size_t(y) * p.width + x) * channels];
            if (p.colourType == pngtest::PALETTE) {
                samples.push_back(p.palette[size_t(value) * 3]);
            } else if (p.bitDepth < 8) {
                samples.push_back(static_cast<uint16_t>(value * 255 / ((1 << p.bitDepth) - 1)));
            } else {
                samples.push_back(value);
            }
        }
    }
    return samples;
}

std::vector<std::pair<std::string, Bytes>> replaced(std::vector<std::pair<std::string, Bytes>> chunks,
                                                    const std::string& type, const Bytes& data) {
    for (auto& chunk : chunks) {
        if (chunk.first == type) chunk.second = data;
    }
    return chunks;
}

Bytes header(uint32_t width, uint32_t height, uint8_t depth, uint8_t type) {
    Bytes data;
    pngtest::put32(data, width);
    pngtest::put32(data, height);
    data.insert(data.end(), {depth, type, 0, 0, 0});
    return data;
}

Bytes cut(Bytes bytes, size_t drop) {
    bytes.resize(bytes.size() - drop);
    return bytes;
}

Bytes withByteFlipped(Bytes bytes, size_t fromEnd) {
    bytes[bytes.size() - fromEnd] ^= 0x55;
    return bytes;
}

}  // namespace

TEST(HeightMapReader, EveryPngLayoutGivesItsFirstChannelBottomRowFirst) {
    const std::vector<std::pair<pngtest::ColourType, std::vector<int>>> layouts = {
        {pngtest::GREY, {1, 2, 4, 8, 16}}, {pngtest::GREY_ALPHA, {8, 16}}, {pngtest::RGB, {8, 16}},
        {pngtest::RGBA, {8, 16}},          {pngtest::PALETTE, {1, 2, 4, 8}},
    };
    for (const auto& [type, depths] : layouts) {
        for (const int depth : depths) {
            for (const bool interlaced : {false, true}) {
                for (const auto& [width, height] : {std::pair<int, int>{13, 9}, {1, 3}, {3, 1}}) {
                    const Picture p = picture(type, depth, interlaced, width, height);
                    const std::string where = "colour type " + std::to_string(type) + ", depth " +
                                              std::to_string(depth) + (interlaced ? ", interlaced " : " ") +
                                              std::to_string(width) + " x " + std::to_string(height);
                    const Loaded loaded = load(pngtest::encode(p), "map.png");
                    ASSERT_TRUE(loaded.ok) << where << ": " << loaded.message;
                    EXPECT_EQ(loaded.map.width, width) << where;
                    EXPECT_EQ(loaded.map.height, height) << where;
                    EXPECT_EQ(loaded.map.largestValue, depth == 16 ? 65535 : 255) << where;
                    EXPECT_EQ(loaded.map.samples, expectedSamples(p)) << where;
                    if (depth == 8 && (type == pngtest::GREY || type == pngtest::RGB) && !interlaced) {
                        // The BMP of the same picture gives the same samples.
                        std::vector<uint8_t> bottomFirst;
                        const size_t rowValues = p.values.size() / height;
                        for (int y = height - 1; y >= 0; --y) {
                            bottomFirst.insert(bottomFirst.end(), p.values.begin() + y * rowValues,
                                               p.values.begin() + (y + 1) * rowValues);
                        }
                        const Bytes bmp = type == pngtest::GREY ? encodeGreyBitmap8(width, height, bottomFirst.data())
                                                                : encodeBitmap24(width, height, bottomFirst.data());
                        EXPECT_EQ(load(bmp, "map.bmp").map.samples, loaded.map.samples) << where;
                    }
                }
            }
        }
    }
}

TEST(HeightMapReader, RawFilesAreSquaresOfLittleEndianSamplesTopRowFirst) {
    // The name decides: a first sample of 0x4D42 spells "BM" and a later one the PNG signature.
    const Bytes raw = {'B',  'M',  0x02, 0x01, 0xFF, 0xFF, 0x00, 0x80, 0x34, 0x12, 0x00, 0x00,
                       0x10, 0x00, 0x20, 0x00, 0x30, 0x00};
    const Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (const std::string name : {"map.r16", "MAP.RAW"}) {
        const Loaded loaded = load(raw, name);
        ASSERT_TRUE(loaded.ok) << name << ": " << loaded.message;
        EXPECT_EQ(loaded.map.width, 3);
        EXPECT_EQ(loaded.map.height, 3);
        EXPECT_EQ(loaded.map.largestValue, 65535);
        EXPECT_EQ(loaded.map.samples,
                  (std::vector<uint16_t>{0x10, 0x20, 0x30, 0x8000, 0x1234, 0, 0x4D42, 0x0102, 0xFFFF}));
        EXPECT_EQ(load(png, name).map.width, 2) << name;
    }
}

TEST(HeightMapReader, RawSamplesLeftInTheFileComeBandByBandAsTheWholeReadHasThem) {
    const int side = 5;
    Bytes raw;
    for (int k = 0; k < side * side; ++k) {
        const uint16_t sample = static_cast<uint16_t>(k * 2617 + 3);
        raw.push_back(static_cast<uint8_t>(sample & 0xFF));
        raw.push_back(static_cast<uint8_t>(sample >> 8));
    }
    const TempFolder folder;
    const std::string path = folder.write("map.r16", raw);
    HeightSamples whole, leftInFile;
    std::string message;
    ASSERT_TRUE(loadHeightMap(path, ElevationOptions(), whole, message));
    ASSERT_TRUE(loadHeightMap(path, ElevationOptions(), leftInFile, message, RawSamples::LeftInFile)) << message;
    EXPECT_TRUE(leftInFile.samples.empty());
    EXPECT_EQ(leftInFile.width, side);
    EXPECT_EQ(leftInFile.height, side);
    EXPECT_EQ(leftInFile.largestValue, 65535);
    const struct {
        int firstRow, rowCount;
    } bands[] = {{0, 5}, {1, 2}, {4, 1}};
    const MappedRawSamples mapped(leftInFile);
    ASSERT_TRUE(mapped.isMapped());
    for (const auto& band : bands) {
        std::vector<uint16_t> buffer(size_t(band.rowCount) * side);
        const uint16_t* rows = sampleRows(leftInFile, band.firstRow, band.rowCount, buffer.data(), message);
        ASSERT_EQ(rows, buffer.data()) << message;
        const auto first = whole.samples.begin() + band.firstRow * side;
        EXPECT_EQ(buffer, std::vector<uint16_t>(first, first + band.rowCount * side)) << "from row " << band.firstRow;
        // Mapped, each row is where the file holds it, and reads the same once its band is given back.
        for (int pass = 0; pass < 2; ++pass) {
            for (int k = 0; k < band.rowCount; ++k) {
                const uint16_t* row = mapped.row(band.firstRow + k);
                EXPECT_EQ(std::vector<uint16_t>(row, row + side),
                          std::vector<uint16_t>(first + k * side, first + (k + 1) * side))
                    << "mapped row " << band.firstRow + k << ", pass " << pass;
            }
            mapped.release(band.firstRow, band.rowCount);
        }
    }
    // Other formats have no raw samples to leave behind.
    HeightSamples png;
    ASSERT_TRUE(loadHeightMap(folder.write("map.png", encodeGreyPng16(side, side, whole.samples.data())),
                              ElevationOptions(), png, message, RawSamples::LeftInFile));
    EXPECT_EQ(png.samples, whole.samples);
    // The file cut short after it was opened: its top rows remain, the bottom row is gone.
    fs::resize_file(path, raw.size() - 2 * side);
    std::vector<uint16_t> buffer(side);
    EXPECT_NE(sampleRows(leftInFile, side - 1, 1, buffer.data(), message), nullptr);
    EXPECT_EQ(sampleRows(leftInFile, 0, 1, buffer.data(), message), nullptr);
    EXPECT_EQ(message, "File is truncated");
    // Reading a mapped page past its end would end the program: a file cut short is read instead.
    EXPECT_FALSE(MappedRawSamples(leftInFile).isMapped());
}

TEST(HeightMapReader, BadInputsAreRefusedWithOneReason) {
    const Picture big = picture(pngtest::GREY, 16, false, 64, 64);
    const Bytes png = pngtest::encode(big);
    const auto chunks = pngtest::chunks(big);
    Bytes garbledIdat = chunks[1].second;
    for (size_t i = 2; i < garbledIdat.size(); i += 3) garbledIdat[i] ^= 0xA7;
    const Bytes oneRow(200, 0);
    struct Case {
        std::string label;
        Bytes bytes;
        std::string name;
        std::string message;  // the reason, or its beginning where it is libpng's or zlib's
    };
    const std::vector<Case> cases = {
        {"PNG cut inside the pixel data", cut(png, 40), "map.png", "File is truncated"},
        {"PNG without its end chunk", cut(png, 12), "map.png", "File is truncated"},
        {"PNG signature alone", Bytes(png.begin(), png.begin() + 8), "map.png", "File is truncated"},
        {"PNG pixel data checksum wrong", withByteFlipped(png, 13), "map.png", "Invalid PNG: IDAT: CRC error"},
        {"PNG header checksum wrong", withByteFlipped(png, png.size() - 29), "map.png", "Invalid PNG: IHDR: CRC error"},
        {"PNG pixel data garbled, checksum right", pngtest::fileOf(replaced(chunks, "IDAT", garbledIdat)), "map.png",
         "Invalid PNG: "},
        {"PNG 40000 pixels wide", pngtest::fileOf(replaced(chunks, "IHDR", header(40000, 1, 8, 0))), "map.png",
         "Image is larger than 32768 pixels on a side"},
        {"PNG 30000 x 30000 header over 200 bytes",
         pngtest::fileOf({{"IHDR", header(30000, 30000, 16, 0)}, {"IDAT", oneRow}, {"IEND", {}}}), "map.png",
         "File is truncated"},
        {"PNG 2^31 pixels wide", pngtest::fileOf(replaced(chunks, "IHDR", header(0x80000000u, 1, 8, 0))), "map.png",
         "Invalid PNG: "},
        {"PNG palette of 16 bits", pngtest::fileOf(replaced(chunks, "IHDR", header(64, 64, 16, 3))), "map.png",
         "Invalid PNG: "},
        {"PNG palette picture without palette", pngtest::fileOf(replaced(chunks, "IHDR", header(64, 64, 8, 3))),
         "map.png", "Invalid PNG: "},
        {"raw of an odd size", Bytes(7, 1), "map.r16", "Raw height map size is not 2 x N x N bytes"},
        {"raw of 12 samples", Bytes(24, 1), "map.raw", "Raw height map size is not 2 x N x N bytes"},
        {"empty raw", Bytes(), "map.r16", "Raw height map size is not 2 x N x N bytes"},
        {"PNG of 1-bit 32768 x 32768 pixels in 200 kB",
         pngtest::fileOf({{"IHDR", header(32768, 32768, 1, 0)}, {"IDAT", Bytes(200000, 0)}, {"IEND", {}}}),
         "map.png", "PNG of 32768 x 32768 pixels is too small a file for a height map"},
        {"text named like a PNG", Bytes{'h', 'i', '\n'}, "map.png", "File is not a height map KELTA reads"},
        {"empty file with another name", Bytes(), "map.dat", "File is not a height map KELTA reads"},
    };
    for (const Case& c : cases) {
        const Loaded loaded = load(c.bytes, c.name);
        EXPECT_FALSE(loaded.ok) << c.label;
        EXPECT_EQ(loaded.message.rfind(c.message, 0), 0u) << c.label << ": " << loaded.message;
        EXPECT_GT(loaded.message.size(), std::string("Invalid PNG: ").size()) << c.label;
        EXPECT_EQ(loaded.message.find('\n'), std::string::npos) << c.label;
        EXPECT_TRUE(loaded.map.samples.empty()) << c.label;
    }
}

TEST(HeightMapWriter, SixteenBitGreyPngReadsBackExactlyWithoutGamma) {
    const int width = 5, height = 4;
    std::vector<uint16_t> samples;
    for (int k = 0; k < width * height; ++k) samples.push_back(static_cast<uint16_t>(k * 3449 + 1));
    samples.back() = 65535;
    const Bytes png = encodeGreyPng16(width, height, samples.data());
    const Loaded loaded = load(png, "map.png");
    ASSERT_TRUE(loaded.ok) << loaded.message;
    EXPECT_EQ(loaded.map.largestValue, 65535);
    EXPECT_EQ(loaded.map.samples, samples);
    for (const std::string chunk : {"gAMA", "sRGB", "iCCP", "cHRM"}) {
        EXPECT_EQ(std::search(png.begin(), png.end(), chunk.begin(), chunk.end()), png.end()) << chunk;
    }
    EXPECT_TRUE(encodeGreyPng16(0, 4, samples.data()).empty());
    EXPECT_TRUE(encodeGreyPng16(32769, 1, samples.data()).empty());
}

TEST(DataGenHeightMap, SixteenBitMapKeepsWhatTheEightBitMapRounds) {
    const datagen::HeightField field = datagen::generateHeightField(64, datagen::DEFAULT_SEED);
    const datagen::GreyImage eightBit = datagen::quantiseTo8Bits(field);
    const std::vector<uint16_t> sixteenBit = datagen::quantiseTo16Bits(field);
    EXPECT_EQ(eightBit.pixels, datagen::generateHeightMap(64, datagen::DEFAULT_SEED).pixels);
    ASSERT_EQ(sixteenBit.size(), eightBit.pixels.size());
    size_t betweenEightBitLevels = 0;
    for (size_t k = 0; k < sixteenBit.size(); ++k) {
        EXPECT_EQ(sixteenBit[k] == 0, eightBit.pixels[k] == 0) << "pixel " << k;
        // Both round the same height, so they lie less than one 8-bit level apart.
        EXPECT_LE(std::abs(int(sixteenBit[k]) - int(eightBit.pixels[k]) * 257), 257) << "pixel " << k;
        if (sixteenBit[k] % 257 != 0) ++betweenEightBitLevels;
    }
    EXPECT_GT(betweenEightBitLevels, sixteenBit.size() / 2);
}

TEST(HeightMapReader, FuzzerFindingsNeverCrash) {
    // run_fuzz.sh keeps each input that broke the reader here, named so that it reaches the same reader.
    const fs::path folder = fs::path(KELTA_TEST_DATA_DIR) / "heightmap-regressions";
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        HeightSamples map;
        std::string message;
        if (loadHeightMap(entry.path().c_str(), ElevationOptions(), map, message)) {
            EXPECT_EQ(map.samples.size(), size_t(map.width) * size_t(map.height)) << entry.path();
        } else {
            EXPECT_FALSE(message.empty()) << entry.path();
        }
    }
}
