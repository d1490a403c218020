#pragma once
// What the bare pipelines (the benchmarks' floors) do alike, straight on the libraries: any
// failure ends the program with the library's reason; the input's best stream of a kind is
// opened for decoding; encoded packets go to the muxer as they come.

#include <cstdio>
#include <cstdlib>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace kelvaro::bench {

[[noreturn]] inline void Fail(const char* what, int code = 0)
{
    char reason[128] = "";
    if (code < 0)
        av_strerror(code, reason, sizeof reason);
    std::fprintf(stderr, "%s %s\n", what, reason);
    std::exit(1);
}

inline void Check(int code, const char* what)
{
    if (code < 0)
        Fail(what, code);
}

// Opens `path` into `in` and the decoder of its best stream of `type` into `decoder`; returns
// that stream's index.
inline int OpenBestDecoder(const char* path, AVMediaType type, AVFormatContext*& in,
                           AVCodecContext*& decoder)
{
    Check(avformat_open_input(&in, path, nullptr, nullptr), "open input");
    Check(avformat_find_stream_info(in, nullptr), "stream info");
    const AVCodec* codec = nullptr;
    const int index = av_find_best_stream(in, type, -1, -1, &codec, 0);
    Check(index, "stream");
    decoder = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(decoder, in->streams[index]->codecpar);
    decoder->pkt_timebase = in->streams[index]->time_base;
    Check(avcodec_open2(decoder, codec, nullptr), "open decoder");
    return index;
}

// Muxes every packet `encoder` has ready as stream 0 of `out`.
inline void WritePackets(AVCodecContext* encoder, AVPacket* packet, const AVStream* stream,
                         AVFormatContext* out)
{
    int result;
    while ((result = avcodec_receive_packet(encoder, packet)) >= 0) {
        av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
        packet->stream_index = 0;
        Check(av_interleaved_write_frame(out, packet), "write");
    }
    if (result != AVERROR(EAGAIN) && result != AVERROR_EOF)
        Fail("encode", result);
}

}  // namespace kelvaro::bench
