#pragma once
// What the main loop asks of a decoder, whoever does the decoding: whole packets in, frames
// out in presentation order, and a drain at the end. The media library's decoders stand
// behind it, and so can a decoder from elsewhere.

#include <memory>

extern "C" {
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
}

namespace kelvaro {

class TFrameDecoder {
public:
    virtual ~TFrameDecoder() = default;
    // Takes one whole packet; none starts the drain. 0, or a negative library code.
    virtual int SendPacket(const AVPacket* packet) = 0;
    // 0 with the next frame in `frame`; AVERROR(EAGAIN) when it needs the next packet,
    // AVERROR_EOF once drained; any other negative code is a failure.
    virtual int ReceiveFrame(AVFrame* frame) = 0;
};

// The media library's own decoder behind an opened context, which must outlive it.
std::unique_ptr<TFrameDecoder> MakeLibraryDecoder(AVCodecContext* context);

}  // namespace kelvaro
