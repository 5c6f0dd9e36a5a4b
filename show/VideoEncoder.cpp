// Encoding and muxing through libavcodec, libswscale and libavformat, on a thread of the encoder's own.
#include "show/VideoEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cctype>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "io/AtomicFile.h"

namespace {

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string ffmpegReason(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

struct CodecContextFree {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FormatContextFree {
    void operator()(AVFormatContext* context) const {
        if (context->pb) avio_closep(&context->pb);
        avformat_free_context(context);
    }
};
struct FrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScaleFree {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};

}  // namespace

std::optional<VideoCodec> videoCodecOf(const std::string& path) {
    const std::string name = lowerCase(path);
    if (endsWith(name, ".mp4")) return VideoCodec::H264;
    if (endsWith(name, ".webm")) return VideoCodec::Vp9;
    return std::nullopt;
}

int constantRateFactor(VideoCodec codec, int quality) {
    const int worst = codec == VideoCodec::H264 ? 51 : 63;
    const int clamped = std::clamp(quality, LOWEST_VIDEO_QUALITY, HIGHEST_VIDEO_QUALITY);
    return static_cast<int>(std::lround(worst * double(HIGHEST_VIDEO_QUALITY - clamped) / HIGHEST_VIDEO_QUALITY));
}

struct VideoEncoder::Encoding {
    std::string path;
    std::unique_ptr<UnfinishedFile> file;
    std::unique_ptr<AVFormatContext, FormatContextFree> format;
    std::unique_ptr<AVCodecContext, CodecContextFree> codec;
    AVStream* stream = nullptr;
    std::unique_ptr<SwsContext, ScaleFree> toYuv;
    std::unique_ptr<AVFrame, FrameFree> yuv;
    std::unique_ptr<AVPacket, PacketFree> packet;
    int64_t framesSent = 0;

    std::thread thread;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<RgbImage8> queued;
    bool isClosing = false;
    bool hasFailed = false;
    std::string failure;

    bool fail(const std::string& reason) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!hasFailed) failure = "cannot write " + path + ": " + reason;
        hasFailed = true;
        changed.notify_all();
        return false;
    }

    // Writes the packets the encoder has ready; false on a write failure.
    bool writePackets() {
        for (;;) {
            const int received = avcodec_receive_packet(codec.get(), packet.get());
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return true;
            if (received < 0) return fail(ffmpegReason(received));
            // Each frame shows for one tick of 1 / fps, the last one too, so the video lasts
            // frames / fps seconds.
            if (packet->duration == 0) packet->duration = 1;
            av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            const int written = av_interleaved_write_frame(format.get(), packet.get());
            if (written < 0) return fail(ffmpegReason(written));
        }
    }

    bool encode(const RgbImage8& frame) {
        if (frame.width != codec->width || frame.height != codec->height ||
            frame.pixels.size() != size_t(frame.width) * size_t(frame.height) * 3) {
            return fail("a frame of " + std::to_string(frame.width) + " x " + std::to_string(frame.height) +
                        " pixels in a video of " + std::to_string(codec->width) + " x " +
                        std::to_string(codec->height));
        }
        const int made = av_frame_make_writable(yuv.get());
        if (made < 0) return fail(ffmpegReason(made));
        const uint8_t* rows[1] = {frame.pixels.data()};
        const int rowBytes[1] = {frame.width * 3};
        sws_scale(toYuv.get(), rows, rowBytes, 0, frame.height, yuv->data, yuv->linesize);
        yuv->pts = framesSent++;
        const int sent = avcodec_send_frame(codec.get(), yuv.get());
        if (sent < 0) return fail(ffmpegReason(sent));
        return writePackets();
    }

    void encodeQueued() {
        for (;;) {
            RgbImage8 frame;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return !queued.empty() || isClosing; });
                if (queued.empty()) return;
                frame = std::move(queued.front());
                queued.pop_front();
                changed.notify_all();
                if (hasFailed) continue;
            }
            encode(frame);
        }
    }

    void stopThread() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            isClosing = true;
            changed.notify_all();
        }
        if (thread.joinable()) thread.join();
    }
};

VideoEncoder::VideoEncoder(std::unique_ptr<Encoding> encoding) : encoding(std::move(encoding)) {}

VideoEncoder::~VideoEncoder() {
    if (!encoding) return;
    {
        // What is still queued is of no use to a video that will not be finished.
        std::lock_guard<std::mutex> lock(encoding->mutex);
        encoding->queued.clear();
    }
    encoding->stopThread();
}

std::unique_ptr<VideoEncoder> VideoEncoder::open(const std::string& path, const VideoSettings& settings,
                                                 std::string& error) {
    // Its lines would break the tool's one line per failure; every failure is reported here.
    av_log_set_level(AV_LOG_QUIET);
    auto encoding = std::make_unique<Encoding>();
    encoding->path = path;
    auto refuse = [&](const std::string& reason) {
        error = "cannot write " + path + ": " + reason;
        return nullptr;
    };
    const bool isH264 = settings.codec == VideoCodec::H264;
    const char* encoderName = isH264 ? "libx264" : "libvpx-vp9";
    const AVCodec* encoder = avcodec_find_encoder_by_name(encoderName);
    if (encoder == nullptr) return refuse(std::string("this FFmpeg has no ") + encoderName + " encoder");

    encoding->file = std::make_unique<UnfinishedFile>(path, error);
    if (!encoding->file->isMarked()) return nullptr;

    AVFormatContext* format = nullptr;
    // The new file's name ends in no extension the muxer could be told by.
    const int allocated = avformat_alloc_output_context2(&format, nullptr, isH264 ? "mp4" : "webm", nullptr);
    if (allocated < 0) return refuse(ffmpegReason(allocated));
    encoding->format.reset(format);

    encoding->codec.reset(avcodec_alloc_context3(encoder));
    AVCodecContext& codec = *encoding->codec;
    codec.width = settings.width;
    codec.height = settings.height;
    codec.time_base = AVRational{1, settings.framesPerSecond};
    codec.framerate = AVRational{settings.framesPerSecond, 1};
    codec.pix_fmt = AV_PIX_FMT_YUV420P;
    // The renderer's colours are sRGB's, whose primaries are BT.709's; players take HD video's
    // matrix to be BT.709 unless told otherwise, and are told so here too.
    codec.color_primaries = AVCOL_PRI_BT709;
    codec.color_trc = AVCOL_TRC_IEC61966_2_1;
    codec.colorspace = AVCOL_SPC_BT709;
    codec.color_range = AVCOL_RANGE_MPEG;
    if (format->oformat->flags & AVFMT_GLOBALHEADER) codec.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "crf", constantRateFactor(settings.codec, settings.quality), 0);
    if (!isH264) {
        // libvpx takes its constant rate factor as a quality only without a bit rate; its speed 4
        // with row threads keeps a frame's encoding within what drawing it costs.
        av_dict_set(&options, "b", "0", 0);
        av_dict_set(&options, "deadline", "good", 0);
        av_dict_set(&options, "cpu-used", "4", 0);
        av_dict_set(&options, "row-mt", "1", 0);
    }
    const int opened = avcodec_open2(&codec, encoder, &options);
    av_dict_free(&options);
    if (opened < 0) return refuse(std::string(encoderName) + ": " + ffmpegReason(opened));

    encoding->stream = avformat_new_stream(format, nullptr);
    if (encoding->stream == nullptr) return refuse(ffmpegReason(AVERROR(ENOMEM)));
    encoding->stream->time_base = codec.time_base;
    avcodec_parameters_from_context(encoding->stream->codecpar, &codec);

    encoding->toYuv.reset(sws_getContext(settings.width, settings.height, AV_PIX_FMT_RGB24, settings.width,
                                         settings.height, AV_PIX_FMT_YUV420P, SWS_BICUBIC | SWS_ACCURATE_RND,
                                         nullptr, nullptr, nullptr));
    if (!encoding->toYuv) return refuse("no conversion from RGB to yuv420p at this size");
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    // Full-range RGB in, limited-range YUV out, as the stream says.
    sws_setColorspaceDetails(encoding->toYuv.get(), bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
    encoding->yuv.reset(av_frame_alloc());
    encoding->packet.reset(av_packet_alloc());
    if (!encoding->yuv || !encoding->packet) return refuse(ffmpegReason(AVERROR(ENOMEM)));
    encoding->yuv->format = AV_PIX_FMT_YUV420P;
    encoding->yuv->width = settings.width;
    encoding->yuv->height = settings.height;
    const int buffered = av_frame_get_buffer(encoding->yuv.get(), 0);
    if (buffered < 0) return refuse(ffmpegReason(buffered));

    // "file:" keeps a colon in the folder's name from being taken for a protocol.
    const int created = avio_open(&format->pb, (std::string("file:") + encoding->file->path()).c_str(), AVIO_FLAG_WRITE);
    if (created < 0) return refuse(ffmpegReason(created));
    const int headed = avformat_write_header(format, nullptr);
    if (headed < 0) return refuse(ffmpegReason(headed));

    Encoding* running = encoding.get();
    encoding->thread = std::thread([running] { running->encodeQueued(); });
    return std::unique_ptr<VideoEncoder>(new VideoEncoder(std::move(encoding)));
}

bool VideoEncoder::add(RgbImage8 frame) {
    std::unique_lock<std::mutex> lock(encoding->mutex);
    encoding->changed.wait(lock, [&] {
        return encoding->hasFailed || encoding->queued.size() < size_t(QUEUED_FRAMES);
    });
    if (encoding->hasFailed) return false;
    encoding->queued.push_back(std::move(frame));
    encoding->changed.notify_all();
    return true;
}

bool VideoEncoder::finish(std::string& error) {
    Encoding& done = *encoding;
    done.stopThread();
    if (!done.hasFailed) {
        // The frames the encoder still holds back (its look-ahead), then the file's end.
        const int flushed = avcodec_send_frame(done.codec.get(), nullptr);
        if (flushed < 0) {
            done.fail(ffmpegReason(flushed));
        } else if (done.writePackets()) {
            const int ended = av_write_trailer(done.format.get());
            if (ended < 0) done.fail(ffmpegReason(ended));
            const int closed = avio_closep(&done.format->pb);
            if (closed < 0) done.fail(ffmpegReason(closed));
        }
    }
    if (done.hasFailed) {
        error = done.failure;
        return false;
    }
    return done.file->putInPlace(error);
}
