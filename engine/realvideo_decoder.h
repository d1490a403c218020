#pragma once
// The RealVideo bridge: a decoder of RealVideo 3 and 4 streams over the outside decoder
// library (medialib/realvideo_library.h), for when the media library's own decoders were
// not chosen.
//
// Packets arrive as the RealMedia demuxer assembles them: a byte holding the number of
// segments - 1, a table of 8 bytes per segment, then the payload. The outside library writes
// each picture into the bridge's buffer; a picture smaller than the stream is enlarged to the
// stream's size. Frames leave as planar 4:2:0 pictures of the stream's size, one per packet.

#include <cstdint>

#include "engine/decoder.h"
#include "medialib/realvideo_library.h"

namespace kelvaro {

class TRealVideoDecoder final : public TDecoder {
public:
    // `context` is the stream's decoder context, never opened by the library: its size,
    // extradata, codec tag and packet time base are read, and Open sets its pixel format.
    // It must outlive the decoder. `functions` are copied.
    TRealVideoDecoder(AVCodecContext& context, const RealVideoFunctions& functions);
    ~TRealVideoDecoder() override { Close(); }
    TRealVideoDecoder(const TRealVideoDecoder&) = delete;
    TRealVideoDecoder& operator=(const TRealVideoDecoder&) = delete;

    // Starts the outside decoder and makes the buffers; a library error code on failure,
    // with the reason logged when it lies in the stream.
    int Open();

    int SendPacket(const AVPacket* packet) override;
    int ReceiveFrame(AVFrame* frame) override;
    int DecodeSubtitle(const AVPacket* packet, AVSubtitle* subtitle, int* got) override;
    void Flush() override;
    void Close() override;

private:
    int Decode(const AVPacket& packet);
    int StartDecoder(uint32_t subFormat, uint32_t format);
    void CopyToFrame(const uint8_t* picture);

    // av_log's first argument: the log line then names the decoder.
    struct LogContext {
        const AVClass* avClass;
        const char* name;
    };
    static const AVClass* LogClass();

    LogContext log_;
    AVCodecContext& context_;
    const RealVideoFunctions functions_;
    void* handle_ = nullptr;  // the outside decoder's, from Init
    // Each holds one picture of the stream's size: the outside decoder writes into the first,
    // and enlarging moves pictures between the two.
    AvMemoryPtr<uint8_t> output_;
    AvMemoryPtr<uint8_t> spare_;
    FramePtr decoded_;  // the frame waiting to be received, when hasFrame_
    bool open_ = false;
    bool hasFrame_ = false;
    bool draining_ = false;
};

}  // namespace kelvaro
