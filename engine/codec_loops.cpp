// The send / receive loops of the codecs, written once for audio and pictures: a packet into
// a decoder and every frame it releases out, a frame into an encoder and every packet it
// releases on to the muxer. A null packet or frame drains.

#include "engine/job.h"
#include "engine/media_error.h"
#include "engine/text_format.h"
#include "engine/transcode_state.h"
#include "medialib/media_functions.h"

namespace kelvaro {
namespace {

// Reads what the encoder reported of the picture or frame behind a packet: the quality (in
// lambda units), the picture type and the per-plane errors.
void RememberCodedFrame(TOutputStreamState& output, const AVPacket& packet)
{
    size_t size = 0;
    const uint8_t* stats =
        avcodec.av_packet_get_side_data(&packet, AV_PKT_DATA_QUALITY_STATS, &size);
    if (!stats || size < 6)
        return;
    output.HasCodedFrame = true;
    output.CodedQuality = static_cast<int32_t>(stats[0] | stats[1] << 8 | stats[2] << 16 |
                                               static_cast<uint32_t>(stats[3]) << 24);
    output.CodedPictureType = stats[4];
    const int errors = std::min<int>(stats[5], 3);
    for (int i = 0; i < errors && size >= 8 + 8 * static_cast<size_t>(i + 1); ++i) {
        uint64_t value = 0;
        for (int b = 7; b >= 0; --b)
            value = value << 8 | stats[8 + 8 * i + b];
        output.CodedErrors[i] = value;
    }
}

}  // namespace

int TCustomFFmpegHlpr::DecodeFrames(TInputStreamState& input, const AVPacket* packet,
                                    const std::function<bool(AVFrame&)>& take)
{
    if (!DecodedFrame)
        DecodedFrame.reset(avutil.av_frame_alloc());
    AVFrame* frame = DecodedFrame.get();
    if (!frame || !input.OpenedDecoder)
        return -1;
    int result = input.OpenedDecoder->SendPacket(packet);
    if (result < 0 && result != AVERROR_EOF)
        return -1;
    int frames = 0;
    while ((result = input.OpenedDecoder->ReceiveFrame(frame)) >= 0) {
        if (++frames == 2 && packet && JobLogLevel > 0)
            Log(0, Format("Multiple frames in a packet from stream %d", packet->stream_index));
        const bool taken = take(*frame);
        avutil.av_frame_unref(frame);
        if (!taken)
            return -1;
    }
    return result == AVERROR(EAGAIN) || result == AVERROR_EOF ? 0 : -1;
}

void TCustomFFmpegHlpr::SendToEncoder(TOutputStreamState& output, const AVFrame* frame)
{
    AVCodecContext* encoder = output.Encoder();
    const bool video = encoder->codec_type == AVMEDIA_TYPE_VIDEO;
    const auto failure = [video](int code) {
        return FFMpegException(Format("%s: %s",
                                      video ? "Video encoding failed" : "Audio encoding failed",
                                      ErrorReason(code).c_str()));
    };
    // An encoder that holds frames back (B-frames, look-ahead) answers EAGAIN to the receive
    // until it has enough; what it holds comes out later, the drain's null frame included.
    int result = avcodec.avcodec_send_frame(encoder, frame);
    if (result < 0 && !(frame == nullptr && result == AVERROR_EOF))
        throw failure(result);
    if (!EncodedPacket)
        EncodedPacket.reset(avcodec.av_packet_alloc());
    AVPacket* packet = EncodedPacket.get();
    while ((result = avcodec.avcodec_receive_packet(encoder, packet)) >= 0) {
        RememberCodedFrame(output, *packet);
        const int size = packet->size;
        if (video) {
            VideoBytesWritten += size;
        } else {
            AudioBytesWritten += size;
            packet->flags |= AV_PKT_FLAG_KEY;
        }
        packet->stream_index = output.StreamIndex;
        avcodec.av_packet_rescale_ts(packet, encoder->time_base, output.Stream->time_base);
        WritePacket(output, packet);
        avcodec.av_packet_unref(packet);
        // A first pass describes every coded picture, those of the drain too.
        if (output.LogFile && encoder->stats_out)
            std::fprintf(output.LogFile.get(), "%s", encoder->stats_out);
        if (video && !VideoStatsFileName.empty() && size > 0)
            WriteVideoStatistics(output, size);
    }
    if (result != AVERROR(EAGAIN) && result != AVERROR_EOF)
        throw failure(result);
}

}  // namespace kelvaro
