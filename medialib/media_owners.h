#pragma once
// Owners for FFmpeg objects: every handle Kelvaro holds lives in one of these, and each
// deleter is named after the library call that frees it (called through the bound slots).

#include <memory>

#include "medialib/local_file_stream.h"
#include "medialib/media_functions.h"

namespace kelvaro {

// An input read through the engine's own byte stream (local_file_stream.h) releases that
// stream and its file with it: the library leaves a caller's stream alone.
struct AvFormatCloseInput {
    void operator()(AVFormatContext* context) const
    {
        AVIOContext* own = context->flags & AVFMT_FLAG_CUSTOM_IO ? context->pb : nullptr;
        avformat.avformat_close_input(&context);
        CloseLocalFileStream(own);
    }
};
// Output contexts: the byte stream must be closed first (see CloseOutputFile).
struct AvFormatFreeContext {
    void operator()(AVFormatContext* context) const { avformat.avformat_free_context(context); }
};
// The second-pass statistics text belongs to the context's user, not to the library, so it
// goes with the context whatever way the set-up ended.
struct AvCodecFreeContext {
    void operator()(AVCodecContext* context) const
    {
        avutil.av_freep(&context->stats_in);
        avcodec.avcodec_free_context(&context);
    }
};
struct AvFrameFree {
    void operator()(AVFrame* frame) const { avutil.av_frame_free(&frame); }
};
struct AvPacketFree {
    void operator()(AVPacket* packet) const { avcodec.av_packet_free(&packet); }
};
struct AvFifoFreep2 {
    void operator()(AVFifo* fifo) const { avutil.av_fifo_freep2(&fifo); }
};
struct SwrFree {
    void operator()(SwrContext* context) const { swresample.swr_free(&context); }
};
struct SwsFreeContext {
    void operator()(SwsContext* context) const { swscale.sws_freeContext(context); }
};
struct AvBsfFree {
    void operator()(AVBSFContext* context) const { avcodec.av_bsf_free(&context); }
};
struct AvDictFree {
    void operator()(AVDictionary* dictionary) const { avutil.av_dict_free(&dictionary); }
};
// Memory from av_malloc, av_mallocz, av_realloc, av_strdup and av_memdup.
struct AvFree {
    void operator()(void* memory) const { avutil.av_free(memory); }
};

using InputContextPtr = std::unique_ptr<AVFormatContext, AvFormatCloseInput>;
using OutputContextPtr = std::unique_ptr<AVFormatContext, AvFormatFreeContext>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, AvCodecFreeContext>;
using FramePtr = std::unique_ptr<AVFrame, AvFrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, AvPacketFree>;
using FifoPtr = std::unique_ptr<AVFifo, AvFifoFreep2>;
using SwrContextPtr = std::unique_ptr<SwrContext, SwrFree>;
using SwsContextPtr = std::unique_ptr<SwsContext, SwsFreeContext>;
using BsfContextPtr = std::unique_ptr<AVBSFContext, AvBsfFree>;
template <class T>
using AvMemoryPtr = std::unique_ptr<T, AvFree>;

// An AVDictionary* that frees itself; pass Address() where the library wants AVDictionary**.
class Dictionary final {
public:
    Dictionary() = default;
    ~Dictionary() { Reset(); }
    Dictionary(const Dictionary&) = delete;
    Dictionary& operator=(const Dictionary&) = delete;
    Dictionary(Dictionary&& other) noexcept : dictionary_(other.dictionary_)
    {
        other.dictionary_ = nullptr;
    }
    Dictionary& operator=(Dictionary&& other) noexcept
    {
        if (this != &other) {
            Reset();
            dictionary_ = other.dictionary_;
            other.dictionary_ = nullptr;
        }
        return *this;
    }

    AVDictionary* Get() const { return dictionary_; }
    AVDictionary** Address() { return &dictionary_; }
    void Reset()
    {
        if (dictionary_)
            avutil.av_dict_free(&dictionary_);
    }

private:
    AVDictionary* dictionary_ = nullptr;
};

}  // namespace kelvaro
