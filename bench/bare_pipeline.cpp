// The floor for the transcode benchmark: the same conversion as the engine's (decode,
// convert, encode, mux) written directly against the libraries, with nothing else.
// Usage: bench_bare_pipeline INPUT OUTPUT   (OUTPUT .wma: wmav2 at 128 kbit/s; .wav: PCM)
// Prints "seconds=<wall time> cpu=<processor time> maxrss_kb=<peak resident memory>".

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "bench/bare_steps.h"
#include "bench/measurement.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace {

using namespace kelvaro::bench;

struct Pipeline {
    AVFormatContext* in = nullptr;
    AVFormatContext* out = nullptr;
    AVCodecContext* decoder = nullptr;
    AVCodecContext* encoder = nullptr;
    SwrContext* convert = nullptr;
    AVAudioFifo* fifo = nullptr;
    AVStream* stream = nullptr;
    int64_t nextPts = 0;

    ~Pipeline()
    {
        av_audio_fifo_free(fifo);
        swr_free(&convert);
        avcodec_free_context(&encoder);
        avcodec_free_context(&decoder);
        if (out)
            avio_closep(&out->pb);
        avformat_free_context(out);
        avformat_close_input(&in);
    }

    void WritePackets()
    {
        AVPacket* packet = av_packet_alloc();
        kelvaro::bench::WritePackets(encoder, packet, stream, out);
        av_packet_free(&packet);
    }

    void Encode(int samples)
    {
        AVFrame* frame = av_frame_alloc();
        frame->nb_samples = samples;
        frame->format = encoder->sample_fmt;
        frame->sample_rate = encoder->sample_rate;
        av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout);
        Check(av_frame_get_buffer(frame, 0), "frame");
        av_audio_fifo_read(fifo, reinterpret_cast<void**>(frame->data), samples);
        frame->pts = nextPts;
        nextPts += samples;
        Check(avcodec_send_frame(encoder, frame), "send frame");
        av_frame_free(&frame);
        WritePackets();
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
    const int audio = OpenBestDecoder(argv[1], AVMEDIA_TYPE_AUDIO, p.in, p.decoder);

    const bool wma = std::strstr(argv[2], ".wma") != nullptr;
    Check(avformat_alloc_output_context2(&p.out, nullptr, wma ? nullptr : "wav", argv[2]), "output");
    const AVCodec* encoderCodec =
        wma ? avcodec_find_encoder_by_name("wmav2") : avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE);
    p.stream = avformat_new_stream(p.out, nullptr);
    p.encoder = avcodec_alloc_context3(encoderCodec);
    p.encoder->sample_rate = p.decoder->sample_rate;
    av_channel_layout_copy(&p.encoder->ch_layout, &p.decoder->ch_layout);
    p.encoder->sample_fmt = encoderCodec->sample_fmts[0];
    p.encoder->bit_rate = wma ? 128000 : 0;
    p.encoder->time_base = AVRational{1, p.encoder->sample_rate};
    if (p.out->oformat->flags & AVFMT_GLOBALHEADER)
        p.encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    Check(avcodec_open2(p.encoder, encoderCodec, nullptr), "open encoder");
    avcodec_parameters_from_context(p.stream->codecpar, p.encoder);
    p.stream->time_base = p.encoder->time_base;
    Check(avio_open(&p.out->pb, argv[2], AVIO_FLAG_WRITE), "open output");
    Check(avformat_write_header(p.out, nullptr), "header");
    p.fifo = av_audio_fifo_alloc(p.encoder->sample_fmt, p.encoder->ch_layout.nb_channels, 4096);
    const int frameSize = p.encoder->frame_size > 0 ? p.encoder->frame_size : 4096;

    AVPacket* packet = av_packet_alloc();
    AVFrame* decoded = av_frame_alloc();
    AVFrame* converted = av_frame_alloc();
    auto receive = [&] {
        while (avcodec_receive_frame(p.decoder, decoded) >= 0) {
            if (!p.convert) {
                Check(swr_alloc_set_opts2(&p.convert, &p.encoder->ch_layout, p.encoder->sample_fmt,
                                          p.encoder->sample_rate, &decoded->ch_layout,
                                          AVSampleFormat(decoded->format), decoded->sample_rate, 0,
                                          nullptr),
                      "resampler");
                Check(swr_init(p.convert), "resampler");
            }
            converted->nb_samples = decoded->nb_samples;
            converted->format = p.encoder->sample_fmt;
            av_channel_layout_copy(&converted->ch_layout, &p.encoder->ch_layout);
            Check(av_frame_get_buffer(converted, 0), "frame");
            const int n = swr_convert(p.convert, converted->data, converted->nb_samples,
                                      const_cast<const uint8_t**>(decoded->extended_data),
                                      decoded->nb_samples);
            av_audio_fifo_write(p.fifo, reinterpret_cast<void**>(converted->data), n);
            av_frame_unref(converted);
            av_frame_unref(decoded);
            while (av_audio_fifo_size(p.fifo) >= frameSize)
                p.Encode(frameSize);
        }
    };
    while (av_read_frame(p.in, packet) >= 0) {
        if (packet->stream_index == audio && avcodec_send_packet(p.decoder, packet) >= 0)
            receive();
        av_packet_unref(packet);
    }
    avcodec_send_packet(p.decoder, nullptr);
    receive();
    if (av_audio_fifo_size(p.fifo) > 0)
        p.Encode(av_audio_fifo_size(p.fifo));
    avcodec_send_frame(p.encoder, nullptr);
    p.WritePackets();
    Check(av_write_trailer(p.out), "trailer");
    av_frame_free(&converted);
    av_frame_free(&decoded);
    av_packet_free(&packet);

    kelvaro::bench::PrintMeasurement(start);
    return 0;
}
