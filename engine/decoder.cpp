#include "engine/decoder.h"

#include "engine/ffmpeg_exception.h"
#include "engine/job.h"
#include "engine/media_error.h"
#include "engine/realvideo_decoder.h"
#include "engine/text_format.h"
#include "medialib/realvideo_library.h"

namespace kelvaro {

int TLibraryDecoder::Open(const AVCodec* codec, AVDictionary** options)
{
    return avcodec.avcodec_open2(context_.get(), codec, options);
}

int TLibraryDecoder::SendPacket(const AVPacket* packet)
{
    return avcodec.avcodec_send_packet(context_.get(), packet);
}

int TLibraryDecoder::ReceiveFrame(AVFrame* frame)
{
    return avcodec.avcodec_receive_frame(context_.get(), frame);
}

int TLibraryDecoder::DecodeSubtitle(const AVPacket* packet, AVSubtitle* subtitle, int* got)
{
    // An empty packet makes a subtitle decoder give out what it holds.
    PacketPtr empty;
    if (!packet) {
        empty.reset(avcodec.av_packet_alloc());
        if (!empty)
            return AVERROR(ENOMEM);
        packet = empty.get();
    }
    return avcodec.avcodec_decode_subtitle2(context_.get(), subtitle, got,
                                            const_cast<AVPacket*>(packet));
}

void TLibraryDecoder::Flush()
{
    avcodec.avcodec_flush_buffers(context_.get());
}

TDecoderChoice ChooseDecoder(AVCodecID id, bool useLibraryRealVideoDecoders, bool bridgeBound)
{
    if ((id != AV_CODEC_ID_RV30 && id != AV_CODEC_ID_RV40) || useLibraryRealVideoDecoders)
        return TDecoderChoice::Library;
    return bridgeBound ? TDecoderChoice::RealVideoBridge : TDecoderChoice::None;
}

std::unique_ptr<TDecoder> OpenDecoder(CodecContextPtr& context, AVDictionary** options,
                                      std::mutex& codecLock, int fileIndex, int streamIndex,
                                      std::optional<TDecoderChoice> chosen)
{
    AVCodecContext& decoder = *context;
    const TDecoderChoice choice = chosen.value_or(
        ChooseDecoder(decoder.codec_id, TCustomFFmpegHlpr::UseLibraryRealVideoDecoders(),
                      RealVideoLibrary().IsBound()));
    const AVCodec* codec = choice == TDecoderChoice::Library
                               ? avcodec.avcodec_find_decoder(decoder.codec_id)
                               : nullptr;
    if (choice == TDecoderChoice::None || (choice == TDecoderChoice::Library && !codec))
        throw FFMpegException(Format("Unsupported codec (id=%d) for input stream #%d.%d",
                                     static_cast<int>(decoder.codec_id), fileIndex, streamIndex));

    std::unique_ptr<TDecoder> opened;
    int result;
    if (codec) {
        auto library = std::make_unique<TLibraryDecoder>(context);
        {
            std::lock_guard lock(codecLock);
            result = library->Open(codec, options);
        }
        opened = std::move(library);
    } else {
        auto bridge = std::make_unique<TRealVideoDecoder>(decoder, realvideo);
        std::lock_guard lock(codecLock);
        result = bridge->Open();
        if (result < 0)
            bridge.reset();  // its outside decoder is freed under the lock too
        opened = std::move(bridge);
    }
    if (result < 0)
        throw FFMpegException(Format("Error while opening codec for input stream #%d.%d: %s",
                                     fileIndex, streamIndex, ErrorReason(result).c_str()));
    return opened;
}

}  // namespace kelvaro
