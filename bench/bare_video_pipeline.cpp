// The floor for the video benchmark: a picture input to the "dvd" target (PAL), written
// directly against the libraries with the settings the engine's preset gives: decode, scale
// to 720x576, encode MPEG-2, mux a DVD program stream. Pictures only.
// Usage: bench_bare_video_pipeline INPUT OUTPUT
// Prints "seconds=<wall time> cpu=<processor time> maxrss_kb=<peak resident memory>".

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "bench/bare_steps.h"
#include "bench/measurement.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace {

using namespace kelvaro::bench;

struct Pipeline {
    AVFormatContext* in = nullptr;
    AVFormatContext* out = nullptr;
    AVCodecContext* decoder = nullptr;
    AVCodecContext* encoder = nullptr;
    SwsContext* scaler = nullptr;
    AVStream* stream = nullptr;
    AVPacket* packet = av_packet_alloc();
    int64_t nextPts = 0;

    ~Pipeline()
    {
        av_packet_free(&packet);
        sws_freeContext(scaler);
        avcodec_free_context(&encoder);
        avcodec_free_context(&decoder);
        if (out)
            avio_closep(&out->pb);
        avformat_free_context(out);
        avformat_close_input(&in);
    }

    void Encode(const AVFrame* frame)
    {
        Check(avcodec_send_frame(encoder, frame), "send frame");
        WritePackets(encoder, packet, stream, out);
    }

    void Scale(const AVFrame* decoded)
    {
        AVFrame* picture = av_frame_alloc();
        picture->format = encoder->pix_fmt;
        picture->width = encoder->width;
        picture->height = encoder->height;
        Check(av_frame_get_buffer(picture, 0), "picture");
        sws_scale(scaler, decoded->data, decoded->linesize, 0, decoded->height, picture->data,
                  picture->linesize);
        picture->pts = nextPts++;
        Encode(picture);
        av_frame_free(&picture);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s INPUT OUTPUT\n", argv[0]);
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    av_log_set_level(AV_LOG_ERROR);
    Pipeline p;
    const int video = OpenBestDecoder(argv[1], AVMEDIA_TYPE_VIDEO, p.in, p.decoder);

    Check(avformat_alloc_output_context2(&p.out, nullptr, "dvd", argv[2]), "output");
    const AVCodec* encoderCodec = avcodec_find_encoder(AV_CODEC_ID_MPEG2VIDEO);
    p.stream = avformat_new_stream(p.out, nullptr);
    p.encoder = avcodec_alloc_context3(encoderCodec);
    AVCodecContext* e = p.encoder;
    e->width = 720;
    e->height = 576;
    e->pix_fmt = AV_PIX_FMT_YUV420P;
    e->time_base = AVRational{1, 25};
    e->framerate = AVRational{25, 1};
    e->sample_aspect_ratio = AVRational{16, 15};  // the input's 4:3 on 720x576
    e->gop_size = 15;
    e->bit_rate = 6000000;
    e->rc_max_rate = 9000000;
    e->rc_min_rate = 0;
    e->rc_buffer_size = 1835008;
    e->rc_initial_buffer_occupancy = e->rc_buffer_size * 3 / 4;
    e->max_qdiff = 3;
    e->thread_count = 1;
    Check(avcodec_open2(e, encoderCodec, nullptr), "open encoder");
    avcodec_parameters_from_context(p.stream->codecpar, e);
    for (int i = 0; i < e->nb_coded_side_data; ++i) {
        uint8_t* copy = av_stream_new_side_data(p.stream, e->coded_side_data[i].type,
                                                e->coded_side_data[i].size);
        std::copy(e->coded_side_data[i].data,
                  e->coded_side_data[i].data + e->coded_side_data[i].size, copy);
    }
    p.stream->time_base = e->time_base;
    p.out->packet_size = 2048;
    p.out->max_delay = 700000;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "muxrate", "10080000", 0);
    av_dict_set(&options, "preload", "500000", 0);
    Check(avio_open(&p.out->pb, argv[2], AVIO_FLAG_WRITE), "open output");
    Check(avformat_write_header(p.out, &options), "header");
    av_dict_free(&options);

    AVFrame* decoded = av_frame_alloc();
    AVPacket* read = av_packet_alloc();
    auto receive = [&] {
        while (avcodec_receive_frame(p.decoder, decoded) >= 0) {
            if (!p.scaler)
                p.scaler = sws_getContext(decoded->width, decoded->height,
                                          AVPixelFormat(decoded->format), e->width, e->height,
                                          e->pix_fmt, SWS_BICUBIC, nullptr, nullptr, nullptr);
            p.Scale(decoded);
            av_frame_unref(decoded);
        }
    };
    while (av_read_frame(p.in, read) >= 0) {
        if (read->stream_index == video && avcodec_send_packet(p.decoder, read) >= 0)
            receive();
        av_packet_unref(read);
    }
    avcodec_send_packet(p.decoder, nullptr);
    receive();
    p.Encode(nullptr);
    Check(av_write_trailer(p.out), "trailer");
    av_packet_free(&read);
    av_frame_free(&decoded);

    kelvaro::bench::PrintMeasurement(start);
    return 0;
}
