#include "VideoFile.h"

#include "MediaFile.h"

#include <QIODevice>
#include <QTransform>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr int ioBufferBytes = 64 * 1024;
// A damaged file may hold packets that never make a frame.
constexpr int maximumPacketsPerFrame = 4000;
constexpr AVRational milliseconds = {1, 1000};
// AV_TIME_BASE_Q is a C compound literal.
constexpr AVRational containerTimeBase = {1, AV_TIME_BASE};

struct IoContextDeleter
{
    void operator()(AVIOContext *context) const
    {
        // FFmpeg may have replaced the buffer it was given.
        av_freep(&context->buffer);
        avio_context_free(&context);
    }
};

struct FormatContextDeleter
{
    void operator()(AVFormatContext *context) const { avformat_close_input(&context); }
};

struct CodecContextDeleter
{
    void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};

struct FrameDeleter
{
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};

struct PacketDeleter
{
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};

struct ScaleContextDeleter
{
    void operator()(SwsContext *context) const { sws_freeContext(context); }
};

int readFromDevice(void *opaque, uint8_t *buffer, int size)
{
    const qint64 read = static_cast<QIODevice *>(opaque)->read(reinterpret_cast<char *>(buffer), size);
    if (read < 0) {
        return AVERROR(EIO);
    }
    return read == 0 ? AVERROR_EOF : static_cast<int>(read);
}

int64_t seekInDevice(void *opaque, int64_t offset, int whence)
{
    auto *device = static_cast<QIODevice *>(opaque);
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return device->size();
    case SEEK_SET:
        break;
    case SEEK_CUR:
        offset += device->pos();
        break;
    case SEEK_END:
        offset += device->size();
        break;
    default:
        return AVERROR(EINVAL);
    }
    return offset >= 0 && device->seek(offset) ? offset : AVERROR(EIO);
}

// The best video stream of an opened file. The format context reads through the I/O context, so it is
// declared after it and goes first.
struct Demuxer
{
    std::unique_ptr<AVIOContext, IoContextDeleter> io;
    std::unique_ptr<AVFormatContext, FormatContextDeleter> format;
    AVStream *stream = nullptr;

    static std::optional<Demuxer> open(QIODevice &device);
};

std::optional<Demuxer> Demuxer::open(QIODevice &device)
{
    // Damaged files are common among a phone's files; what FFmpeg says about them is of no use here.
    static std::once_flag quietLog;
    std::call_once(quietLog, [] { av_log_set_level(AV_LOG_FATAL); });

    Demuxer demuxer;
    auto *buffer = static_cast<uint8_t *>(av_malloc(ioBufferBytes));
    if (!buffer) {
        return std::nullopt;
    }
    demuxer.io.reset(avio_alloc_context(buffer, ioBufferBytes, 0, &device, readFromDevice, nullptr, seekInDevice));
    if (!demuxer.io) {
        av_free(buffer);
        return std::nullopt;
    }
    AVFormatContext *format = avformat_alloc_context();
    if (!format) {
        return std::nullopt;
    }
    format->pb = demuxer.io.get();
    // On failure this frees the context, but not the I/O context, which stays ours.
    if (avformat_open_input(&format, nullptr, nullptr, nullptr) < 0) {
        return std::nullopt;
    }
    demuxer.format.reset(format);
    if (avformat_find_stream_info(format, nullptr) < 0) {
        return std::nullopt;
    }
    const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) {
        return std::nullopt;
    }
    AVStream *stream = format->streams[index];
    const AVCodecParameters *parameters = stream->codecpar;
    // A cover picture of an audio file is no video.
    if ((stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0 || parameters->width <= 0 || parameters->height <= 0 ||
        static_cast<qint64>(parameters->width) * parameters->height > MediaFile::maximumPixels) {
        return std::nullopt;
    }
    demuxer.stream = stream;
    return demuxer;
}

std::optional<qint64> durationMillis(const Demuxer &demuxer)
{
    if (demuxer.format->duration != AV_NOPTS_VALUE && demuxer.format->duration > 0) {
        return av_rescale_q(demuxer.format->duration, containerTimeBase, milliseconds);
    }
    if (demuxer.stream->duration != AV_NOPTS_VALUE && demuxer.stream->duration > 0) {
        return av_rescale_q(demuxer.stream->duration, demuxer.stream->time_base, milliseconds);
    }
    return std::nullopt;
}

// The display matrix holds the counter-clockwise angle that turns the stored picture upright.
int rotationDegrees(const AVStream *stream)
{
    const uint8_t *matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (!matrix) {
        return 0;
    }
    const double counterClockwise = av_display_rotation_get(reinterpret_cast<const int32_t *>(matrix));
    if (!std::isfinite(counterClockwise)) {
        return 0;
    }
    const long quarterTurns = std::lround(-counterClockwise / 90.0);
    return static_cast<int>(((quarterTurns % 4) + 4) % 4) * 90;
}

QImage scaledImage(const AVFrame &frame, QSize size)
{
    const auto pixelFormat = static_cast<AVPixelFormat>(frame.format);
    // A stream may change its picture size after the header.
    if (frame.width <= 0 || frame.height <= 0 || pixelFormat == AV_PIX_FMT_NONE ||
        static_cast<qint64>(frame.width) * frame.height > MediaFile::maximumPixels) {
        return {};
    }
    const std::unique_ptr<SwsContext, ScaleContextDeleter> scale(
        sws_getContext(frame.width, frame.height, pixelFormat, size.width(), size.height(), AV_PIX_FMT_RGB24, SWS_AREA,
                       nullptr, nullptr, nullptr));
    QImage image(size, QImage::Format_RGB888);
    if (!scale || image.isNull()) {
        return {};
    }
    uint8_t *const target[4] = {image.bits(), nullptr, nullptr, nullptr};
    const int targetLineBytes[4] = {static_cast<int>(image.bytesPerLine()), 0, 0, 0};
    if (sws_scale(scale.get(), frame.data, frame.linesize, 0, frame.height, target, targetLineBytes) != size.height()) {
        return {};
    }
    return image;
}

// Goes to about a tenth of the video, past a dark first frame; from the start when that fails.
void seekToTenth(const Demuxer &demuxer, std::optional<qint64> duration)
{
    const AVStream *stream = demuxer.stream;
    const int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    if (duration && *duration >= 10) {
        const int64_t target = start + av_rescale_q(*duration / 10, milliseconds, stream->time_base);
        if (av_seek_frame(demuxer.format.get(), stream->index, target, AVSEEK_FLAG_BACKWARD) >= 0) {
            return;
        }
    }
    av_seek_frame(demuxer.format.get(), stream->index, start, AVSEEK_FLAG_BACKWARD);
}

// The first frame that decodes from where the demuxer stands.
std::unique_ptr<AVFrame, FrameDeleter> decodeFrame(const Demuxer &demuxer, AVCodecContext &decoder)
{
    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    const std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    if (!frame || !packet) {
        return nullptr;
    }
    for (int packets = 0; packets < maximumPacketsPerFrame; ++packets) {
        if (av_read_frame(demuxer.format.get(), packet.get()) < 0) {
            // The end: what the decoder still holds.
            avcodec_send_packet(&decoder, nullptr);
            return avcodec_receive_frame(&decoder, frame.get()) == 0 ? std::move(frame) : nullptr;
        }
        const bool ours = packet->stream_index == demuxer.stream->index;
        // A packet that does not decode is skipped; the next one may.
        const bool sent = ours && avcodec_send_packet(&decoder, packet.get()) == 0;
        av_packet_unref(packet.get());
        if (sent && avcodec_receive_frame(&decoder, frame.get()) == 0) {
            return frame;
        }
    }
    return nullptr;
}

} // namespace

std::optional<VideoFacts> VideoFile::probe(QIODevice &device)
{
    const std::optional<Demuxer> demuxer = Demuxer::open(device);
    if (!demuxer) {
        return std::nullopt;
    }
    const AVCodecParameters *parameters = demuxer->stream->codecpar;
    return VideoFacts{QSize(parameters->width, parameters->height), durationMillis(*demuxer),
                      rotationDegrees(demuxer->stream)};
}

QImage VideoFile::preview(QIODevice &device, int maxDimension)
{
    const std::optional<Demuxer> demuxer = Demuxer::open(device);
    if (!demuxer) {
        return {};
    }
    const AVCodecParameters *parameters = demuxer->stream->codecpar;
    const AVCodec *codec = avcodec_find_decoder(parameters->codec_id);
    if (!codec) {
        return {};
    }
    const std::unique_ptr<AVCodecContext, CodecContextDeleter> decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), parameters) < 0 ||
        avcodec_open2(decoder.get(), codec, nullptr) < 0) {
        return {};
    }
    seekToTenth(*demuxer, durationMillis(*demuxer));
    const std::unique_ptr<AVFrame, FrameDeleter> frame = decodeFrame(*demuxer, *decoder);
    if (!frame) {
        return {};
    }
    const QImage image = scaledImage(*frame, MediaFile::boundedSize(QSize(frame->width, frame->height), maxDimension));
    const int rotation = rotationDegrees(demuxer->stream);
    return rotation == 0 || image.isNull() ? image : image.transformed(QTransform().rotate(rotation));
}
