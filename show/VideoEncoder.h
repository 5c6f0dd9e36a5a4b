// Frames written as a video file through FFmpeg's libraries: H.264 (libx264) in an MP4 file or VP9
// (libvpx) in a WebM file, both 4:2:0 (yuv420p), which every player plays. The encoding runs on a
// thread of its own behind a short queue, so that the renderer draws the next frame meanwhile; the
// file is written beside its name and takes its place only once it is complete (io/AtomicFile.h),
// so a failure, a full disk or an ending signal leaves the file that was there as it was. Free of GL.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "io/PngImage.h"

enum class VideoCodec { H264, Vp9 };

// The codec a video file's name asks for by its extension, in any case: H.264 for .mp4, VP9 for
// .webm; none for any other name.
std::optional<VideoCodec> videoCodecOf(const std::string& path);

constexpr int LOWEST_VIDEO_QUALITY = 0;
constexpr int HIGHEST_VIDEO_QUALITY = 100;
// Visually lossless for either codec: H.264's constant rate factor 18, VP9's 22.
constexpr int DEFAULT_VIDEO_QUALITY = 65;

// A quality from LOWEST_VIDEO_QUALITY to HIGHEST_VIDEO_QUALITY as the codec's constant rate factor,
// which runs the other way: H.264's from 51 to 0, VP9's from 63 to 0 (0: lossless, which few
// players play for H.264).
int constantRateFactor(VideoCodec codec, int quality);

struct VideoSettings {
    VideoCodec codec = VideoCodec::H264;
    // Even, as 4:2:0 needs.
    int width = 0;
    int height = 0;
    int framesPerSecond = 30;
    int quality = DEFAULT_VIDEO_QUALITY;
};

class VideoEncoder {
public:
    // The frames the renderer may be ahead of the encoder: enough to smooth out frames that take
    // longer to encode, few enough that a large video's frames do not pile up in memory.
    static constexpr int QUEUED_FRAMES = 3;

    // Opens the encoder and starts a new file beside `path` for its frames; null with one line naming
    // the path when the codec is missing or the file cannot be written.
    static std::unique_ptr<VideoEncoder> open(const std::string& path, const VideoSettings& settings,
                                              std::string& error);
    // Abandons a video that was not finished: stops the encoding and removes the new file.
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // Hands the next frame (of the settings' size) to the encoder, which shows it for 1 / fps
    // seconds; waits while QUEUED_FRAMES are waiting. False once the encoding has failed (finish
    // says why), the frame dropped.
    bool add(RgbImage8 frame);
    // Encodes the frames still queued, ends the file and puts it in place of `path`. False with one
    // line naming the path on any failure, the new file removed.
    bool finish(std::string& error);

private:
    struct Encoding;
    explicit VideoEncoder(std::unique_ptr<Encoding> encoding);
    std::unique_ptr<Encoding> encoding;
};
