#include "TestVideo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

bool writeTestVideo(const QString &path, QSize size, int frameCount, int framesPerSecond, int rotationDegrees)
{
    const QByteArray fileName = QFile::encodeName(path);
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    AVFormatContext *format = nullptr;
    AVCodecContext *encoder = nullptr;
    AVFrame *frame = av_frame_alloc();
    AVPacket *packet = av_packet_alloc();
    const auto release = qScopeGuard([&] {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&encoder);
        if (format)
            avio_closep(&format->pb);
        avformat_free_context(format);
    });
    if (!codec || !frame || !packet || !QDir().mkpath(QFileInfo(path).path()) ||
        avformat_alloc_output_context2(&format, nullptr, nullptr, fileName.constData()) < 0)
        return false;
    AVStream *stream = avformat_new_stream(format, nullptr);
    encoder = avcodec_alloc_context3(codec);
    if (!stream || !encoder)
        return false;
    encoder->width = frame->width = size.width();
    encoder->height = frame->height = size.height();
    encoder->time_base = stream->time_base = {1, framesPerSecond};
    encoder->pix_fmt = AV_PIX_FMT_YUV420P;
    frame->format = encoder->pix_fmt;
    encoder->gop_size = 10;
    if (format->oformat->flags & AVFMT_GLOBALHEADER)
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(encoder, codec, nullptr) < 0 || avcodec_parameters_from_context(stream->codecpar, encoder) < 0)
        return false;
    if (rotationDegrees != 0) {
        auto *matrix = reinterpret_cast<int32_t *>(
            av_stream_new_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t)));
        if (!matrix)
            return false;
        // The matrix holds a counter-clockwise angle, but FFmpeg 5's mp4 writer stores it without the
        // transposition its reader applies, so reading the file back (as from a phone) turns the angle around.
        av_display_rotation_set(matrix, rotationDegrees);
    }
    if (avio_open(&format->pb, fileName.constData(), AVIO_FLAG_WRITE) < 0 ||
        avformat_write_header(format, nullptr) < 0 || av_frame_get_buffer(frame, 0) < 0)
        return false;
    // Sends `input` (nothing: the end) and writes every packet that comes out.
    const auto encode = [&](const AVFrame *input) {
        bool written = avcodec_send_frame(encoder, input) == 0;
        while (written && avcodec_receive_packet(encoder, packet) == 0) {
            av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
            written = av_interleaved_write_frame(format, packet) == 0;
        }
        return written;
    };
    for (int index = 0; index < frameCount; ++index) {
        // The encoder may still hold the last frame's picture.
        if (av_frame_make_writable(frame) < 0)
            return false;
        for (int y = 0; y < frame->height; ++y)
            memset(frame->data[0] + y * frame->linesize[0], y * 2 < frame->height ? 200 : 30, frame->width);
        for (int plane = 1; plane <= 2; ++plane)
            memset(frame->data[plane], 128, frame->linesize[plane] * frame->height / 2);
        frame->pts = index;
        if (!encode(frame))
            return false;
    }
    return encode(nullptr) && av_write_trailer(format) == 0;
}
