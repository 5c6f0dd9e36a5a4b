// The video encoder's file names, and its file: whole once finished, and nothing of it otherwise.
#include "show/VideoEncoder.h"
#include "tests/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string contentOf(const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

RgbImage8 gradient(int width, int height, int frame) {
    RgbImage8 image;
    image.width = width;
    image.height = height;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.pixels.insert(image.pixels.end(), {uint8_t(x * 4 + frame), uint8_t(y * 4), uint8_t(128)});
        }
    }
    return image;
}

}  // namespace

TEST(VideoEncoder, TheExtensionChoosesTheCodec) {
    const std::vector<std::pair<std::string, std::optional<VideoCodec>>> names{
        {"flight.mp4", VideoCodec::H264}, {"FLIGHT.MP4", VideoCodec::H264}, {"a/b.c/flight.webm", VideoCodec::Vp9},
        {"flight.WebM", VideoCodec::Vp9}, {"flight.mkv", std::nullopt}, {"flight.mp4.png", std::nullopt},
        {"mp4", std::nullopt}, {"flight", std::nullopt}};
    for (const auto& [name, codec] : names) EXPECT_EQ(videoCodecOf(name), codec) << name;
    // The default is the codecs' own visually lossless rate factor.
    EXPECT_EQ(constantRateFactor(VideoCodec::H264, DEFAULT_VIDEO_QUALITY), 18);
    EXPECT_EQ(constantRateFactor(VideoCodec::Vp9, HIGHEST_VIDEO_QUALITY), 0);
    EXPECT_EQ(constantRateFactor(VideoCodec::Vp9, LOWEST_VIDEO_QUALITY), 63);
}

// A video left unfinished (abandoned, or failed by a frame it cannot take) must leave the file that
// was there and nothing beside it; a finished one replaces it whole.
TEST(VideoEncoder, TheVideoReplacesTheFileThereOnlyOnceFinished) {
    enum class Ending { Finished, Abandoned, WrongFrame };
    // The first bytes of each container: an MP4's box size then "ftyp"; WebM's EBML header.
    const std::vector<std::pair<VideoCodec, std::string>> codecs{{VideoCodec::H264, "ftyp"},
                                                                 {VideoCodec::Vp9, "\x1a\x45\xdf\xa3"}};
    for (const auto& [codec, magic] : codecs) {
        for (const Ending ending : {Ending::Finished, Ending::Abandoned, Ending::WrongFrame}) {
            SCOPED_TRACE(magic + " ending " + std::to_string(int(ending)));
            const TempFolder folder;
            const std::string path = folder / (codec == VideoCodec::H264 ? "flight.mp4" : "flight.webm");
            std::ofstream(path) << "previous";
            std::string error;
            {
                VideoSettings settings;
                settings.codec = codec;
                settings.width = 32;
                settings.height = 18;
                settings.framesPerSecond = 10;
                const std::unique_ptr<VideoEncoder> encoder = VideoEncoder::open(path, settings, error);
                ASSERT_TRUE(encoder) << error;
                // More frames than the queue holds, so that adding waits for the encoder.
                for (int frame = 0; frame < 2 * VideoEncoder::QUEUED_FRAMES; ++frame) {
                    EXPECT_TRUE(encoder->add(gradient(32, 18, frame)));
                }
                if (ending == Ending::WrongFrame) encoder->add(gradient(18, 32, 0));
                if (ending != Ending::Abandoned) {
                    EXPECT_EQ(encoder->finish(error), ending == Ending::Finished);
                }
            }
            const std::string content = contentOf(path);
            if (ending == Ending::Finished) {
                EXPECT_NE(content.find(magic), std::string::npos);
                EXPECT_LT(content.find(magic), 8u);
            } else {
                EXPECT_EQ(content, "previous");
            }
            if (ending == Ending::WrongFrame) {
                EXPECT_EQ(error, "cannot write " + path + ": a frame of 18 x 32 pixels in a video of 32 x 18");
            }
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path),
                                    std::filesystem::directory_iterator()),
                      1)
                << "something was left beside the video";
        }
    }
}
