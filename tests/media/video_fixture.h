// Writes a small MPEG-4 video with the FFmpeg libraries, so the tests need no binary.
#pragma once

#include <QColor>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

// `frames` frames of w x h at 10 frames a second: the first `black` black, the rest `color`.
inline bool WriteTestVideo(const std::string& path, int w, int h, int frames, int black,
                           QColor color) {
    AVFormatContext* fmt = nullptr;
    if (avformat_alloc_output_context2(&fmt, nullptr, "mp4", path.c_str()) < 0)
        return false;
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    AVStream* st = codec ? avformat_new_stream(fmt, nullptr) : nullptr;
    AVCodecContext* cc = codec ? avcodec_alloc_context3(codec) : nullptr;
    AVFrame* frame = av_frame_alloc();
    AVPacket* pkt = av_packet_alloc();
    bool ok = st && cc && frame && pkt;
    if (ok) {
        cc->width = w;
        cc->height = h;
        cc->pix_fmt = AV_PIX_FMT_YUV420P;
        cc->time_base = AVRational{1, 10};
        cc->framerate = AVRational{10, 1};
        cc->gop_size = 5;
        if (fmt->oformat->flags & AVFMT_GLOBALHEADER)
            cc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        ok = avcodec_open2(cc, codec, nullptr) >= 0 &&
             avcodec_parameters_from_context(st->codecpar, cc) >= 0;
        st->time_base = cc->time_base;
    }
    ok = ok && avio_open(&fmt->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0 &&
         avformat_write_header(fmt, nullptr) >= 0;
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = w;
    frame->height = h;
    ok = ok && av_frame_get_buffer(frame, 0) >= 0;
    // BT.601 limited range.
    const int r = color.red(), g = color.green(), b = color.blue();
    const int Y = 16 + (66 * r + 129 * g + 25 * b + 128) / 256;
    const int U = 128 + (-38 * r - 74 * g + 112 * b + 128) / 256;
    const int V = 128 + (112 * r - 94 * g - 18 * b + 128) / 256;
    auto drain = [&]() {
        while (avcodec_receive_packet(cc, pkt) == 0) {
            av_packet_rescale_ts(pkt, cc->time_base, st->time_base);
            pkt->stream_index = st->index;
            av_interleaved_write_frame(fmt, pkt);
        }
    };
    for (int i = 0; ok && i < frames; ++i) {
        ok = av_frame_make_writable(frame) >= 0;
        const bool dark = i < black;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                frame->data[0][y * frame->linesize[0] + x] = static_cast<uint8_t>(dark ? 16 : Y);
        for (int y = 0; y < h / 2; ++y)
            for (int x = 0; x < w / 2; ++x) {
                frame->data[1][y * frame->linesize[1] + x] = static_cast<uint8_t>(dark ? 128 : U);
                frame->data[2][y * frame->linesize[2] + x] = static_cast<uint8_t>(dark ? 128 : V);
            }
        frame->pts = i;
        ok = ok && avcodec_send_frame(cc, frame) >= 0;
        drain();
    }
    if (ok) {
        avcodec_send_frame(cc, nullptr);
        drain();
        ok = av_write_trailer(fmt) >= 0;
    }
    if (fmt && fmt->pb)
        avio_closep(&fmt->pb);
    av_packet_free(&pkt);
    av_frame_free(&frame);
    avcodec_free_context(&cc);
    avformat_free_context(fmt);
    return ok;
}
