#include "engine/frame_decoder.h"

#include "medialib/media_functions.h"

namespace kelvaro {
namespace {

class TLibraryDecoder final : public TFrameDecoder {
public:
    explicit TLibraryDecoder(AVCodecContext* context) : context_(context) {}
    int SendPacket(const AVPacket* packet) override
    {
        return avcodec.avcodec_send_packet(context_, packet);
    }
    int ReceiveFrame(AVFrame* frame) override
    {
        return avcodec.avcodec_receive_frame(context_, frame);
    }

private:
    AVCodecContext* context_;
};

}  // namespace

std::unique_ptr<TFrameDecoder> MakeLibraryDecoder(AVCodecContext* context)
{
    return std::make_unique<TLibraryDecoder>(context);
}

}  // namespace kelvaro
