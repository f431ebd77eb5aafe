#include "media/video_frame.h"

#include <QFile>
#include <QImage>
#include <QString>
#include <algorithm>
#include <chrono>
#include <sys/stat.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "media/file_name.h"

namespace {

using Clock = std::chrono::steady_clock;

// Packets read before the wanted frame turns up; a stream of packets that never make a
// picture must not hold the worker.
constexpr int kMaxPackets = 2000;
constexpr int kMaxSide = 16384;

struct Guard {
    Clock::time_point deadline;
    const std::function<bool()>* stopped;
    bool Expired() const { return Clock::now() > deadline || (*stopped && (*stopped)()); }
};

// Every blocking read and probe of the libraries asks this whether to give up.
int Interrupt(void* opaque) {
    return static_cast<const Guard*>(opaque)->Expired() ? 1 : 0;
}

struct Resources {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    AVFrame* kept = nullptr; // the last frame received
    SwsContext* scaler = nullptr;
    ~Resources() {
        sws_freeContext(scaler);
        av_frame_free(&frame);
        av_frame_free(&kept);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }
};

bool SaneSize(int w, int h) {
    return w > 0 && h > 0 && w <= kMaxSide && h <= kMaxSide &&
           static_cast<long long>(w) * h <= kMaxDecodePixels;
}

Picture ToPicture(const AVFrame* frame, AVRational sar, QSize box, Resources& r) {
    Picture out;
    if (!SaneSize(frame->width, frame->height) || frame->format < 0)
        return out;
    int shownWidth = frame->width;
    if (sar.num > 0 && sar.den > 0 && sar.num != sar.den)
        shownWidth = static_cast<int>(static_cast<long long>(frame->width) * sar.num / sar.den);
    const QSize original(std::clamp(shownWidth, 1, kMaxSide), frame->height);
    QSize fit = original;
    if (fit.width() > box.width() || fit.height() > box.height())
        fit = original.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    r.scaler = sws_getContext(frame->width, frame->height,
                              static_cast<AVPixelFormat>(frame->format), fit.width(), fit.height(),
                              AV_PIX_FMT_RGB24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!r.scaler)
        return out;
    QImage image(fit, QImage::Format_RGB888);
    if (image.isNull())
        return out;
    uint8_t* dst[4] = {image.bits(), nullptr, nullptr, nullptr};
    int lines[4] = {static_cast<int>(image.bytesPerLine()), 0, 0, 0};
    if (sws_scale(r.scaler, frame->data, frame->linesize, 0, frame->height, dst, lines) <= 0)
        return out;
    out.image = std::move(image);
    out.original = original;
    return out;
}

} // namespace

Picture VideoFramePicture(const std::u16string& path, QSize box, int budgetMs,
                          const std::function<bool()>& stopped) {
    Picture out;
    const QString file = media::QtFileName(path);
    if (path.empty())
        return out;
    const QByteArray name = QFile::encodeName(file);
    // A FIFO or device named like a video would never end; an empty file holds nothing.
    struct stat st {};
    if (::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)
        return out;
    av_log_set_level(AV_LOG_QUIET);
    Guard guard{Clock::now() + std::chrono::milliseconds(budgetMs), &stopped};
    Resources r;
    r.format = avformat_alloc_context();
    if (!r.format)
        return out;
    r.format->interrupt_callback.callback = Interrupt;
    r.format->interrupt_callback.opaque = &guard;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "probesize", "8000000", 0);
    av_dict_set(&options, "analyzeduration", "5000000", 0);
    int rc = avformat_open_input(&r.format, name.constData(), nullptr, &options);
    av_dict_free(&options);
    if (rc < 0) {
        r.format = nullptr; // freed by the failed open
        return out;
    }
    if (avformat_find_stream_info(r.format, nullptr) < 0 || guard.Expired())
        return out;
    const AVCodec* decoder = nullptr;
    const int index = av_find_best_stream(r.format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (index < 0 || !decoder)
        return out;
    AVStream* stream = r.format->streams[index];
    if (!SaneSize(stream->codecpar->width, stream->codecpar->height))
        return out;
    r.codec = avcodec_alloc_context3(decoder);
    if (!r.codec || avcodec_parameters_to_context(r.codec, stream->codecpar) < 0)
        return out;
    r.codec->thread_count = 1; // the pool already uses every core
    if (avcodec_open2(r.codec, decoder, nullptr) < 0)
        return out;

    // A little into the video: a tenth of it, at most a few seconds.
    int64_t target = 0; // in the stream's time base
    if (r.format->duration > 0) {
        const int64_t in =
            std::min<int64_t>(r.format->duration / 10, int64_t{kVideoFrameSeconds} * AV_TIME_BASE);
        target = av_rescale_q(in, AV_TIME_BASE_Q, stream->time_base);
        if (stream->start_time != AV_NOPTS_VALUE)
            target += stream->start_time;
        if (in > 0 && av_seek_frame(r.format, index, target, AVSEEK_FLAG_BACKWARD) >= 0)
            avcodec_flush_buffers(r.codec);
    }

    r.packet = av_packet_alloc();
    r.frame = av_frame_alloc();
    r.kept = av_frame_alloc();
    if (!r.packet || !r.frame || !r.kept)
        return out;
    bool haveFrame = false;
    bool draining = false;
    for (int packets = 0; packets < kMaxPackets && !guard.Expired();) {
        if (!draining) {
            rc = av_read_frame(r.format, r.packet);
            if (rc < 0) {
                draining = true;
                avcodec_send_packet(r.codec, nullptr);
            } else {
                ++packets;
                if (r.packet->stream_index == index)
                    avcodec_send_packet(r.codec, r.packet);
                av_packet_unref(r.packet);
            }
        }
        bool done = false;
        while (avcodec_receive_frame(r.codec, r.frame) == 0) {
            haveFrame = true;
            av_frame_unref(r.kept);
            av_frame_move_ref(r.kept, r.frame);
            const int64_t ts = r.kept->best_effort_timestamp;
            if (ts == AV_NOPTS_VALUE || ts >= target) {
                done = true;
                break;
            }
        }
        if (done || draining)
            break;
    }
    if (!haveFrame || guard.Expired())
        return out;
    return ToPicture(r.kept, av_guess_sample_aspect_ratio(r.format, stream, r.kept), box, r);
}
