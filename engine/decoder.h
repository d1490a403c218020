#pragma once
// The decoder of one input stream, whichever kind serves it: the media library's own
// decoders, or the RealVideo bridge over the outside decoder library. The main loop feeds
// and drains every stream through this interface.
//
// A decoder is used by the thread that runs its job only. Opening and closing happen under
// the job's CodecLock: OpenDecoder takes it; the caller takes it around Close. A decoder
// destroyed without Close (a transcode that unwinds) releases its own resources unlocked.

#include <memory>
#include <mutex>
#include <optional>

#include "medialib/media_owners.h"

namespace kelvaro {

class TDecoder {
public:
    virtual ~TDecoder() = default;

    // Hands one packet to the decoder; nullptr ends the input, after which the decoder gives
    // out what it still holds. 0; AVERROR(EAGAIN) while a decoded frame waits to be
    // received; AVERROR_EOF once the input has ended; another negative code when the packet
    // could not be decoded (the decoder then takes the next one).
    virtual int SendPacket(const AVPacket* packet) = 0;
    // Moves the next decoded frame into `frame`, which the caller owns and unreferences.
    // 0; AVERROR(EAGAIN) when a packet is needed first; AVERROR_EOF once drained.
    virtual int ReceiveFrame(AVFrame* frame) = 0;
    // Subtitles leave their decoders whole, one per packet (the library has no queue for
    // them); `got` says whether this packet gave one. Decoders of other kinds refuse.
    virtual int DecodeSubtitle(const AVPacket* packet, AVSubtitle* subtitle, int* got) = 0;
    // Forgets what the decoder holds and takes packets again, also after the end.
    virtual void Flush() = 0;
    // Releases the decoder; nothing may be sent or received afterwards.
    virtual void Close() = 0;
};

// The media library's decoder over a stream's decoder context, which the input owns.
class TLibraryDecoder final : public TDecoder {
public:
    // `context` must outlive this decoder. Close frees the context through it, as closing a
    // library decoder always has; otherwise the context goes with its input.
    explicit TLibraryDecoder(CodecContextPtr& context) : context_(context) {}
    TLibraryDecoder(const TLibraryDecoder&) = delete;
    TLibraryDecoder& operator=(const TLibraryDecoder&) = delete;

    // Opens the context with `codec`; the library takes the options it knows out of
    // `options`. The library's result.
    int Open(const AVCodec* codec, AVDictionary** options);

    int SendPacket(const AVPacket* packet) override;
    int ReceiveFrame(AVFrame* frame) override;
    int DecodeSubtitle(const AVPacket* packet, AVSubtitle* subtitle, int* got) override;
    void Flush() override;
    void Close() override { context_.reset(); }

private:
    CodecContextPtr& context_;
};

enum class TDecoderChoice { Library, RealVideoBridge, None };

// Who decodes streams of `id`: RealVideo 3 and 4 go to the bridge when the library's own
// decoders were not chosen (SelectRealVideoDecoder), and to no one when the bridge's library
// is not bound either; every other codec goes to the library.
TDecoderChoice ChooseDecoder(AVCodecID id, bool useLibraryRealVideoDecoders, bool bridgeBound);

// Makes and opens the decoder of input stream #fileIndex.streamIndex over its decoder context
// (owned by the input), as `choice` says (a job decides it when the input opens; without one,
// as the process-wide RealVideo choice and the bound libraries say), taking `codecLock`
// around the open. Throws FFMpegException "Unsupported codec (id=%d) for
// input stream #%d.%d" when nothing can decode the stream, and "Error while opening codec for
// input stream #%d.%d: %s" when the open fails.
std::unique_ptr<TDecoder> OpenDecoder(CodecContextPtr& context, AVDictionary** options,
                                      std::mutex& codecLock, int fileIndex, int streamIndex,
                                      std::optional<TDecoderChoice> choice = std::nullopt);

}  // namespace kelvaro
