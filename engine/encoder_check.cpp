#include "engine/encoder_check.h"

#include "engine/text_format.h"
#include "medialib/media_functions.h"
#include "medialib/media_owners.h"

namespace kelvaro {
namespace {

// A bit rate the encoder writes below this share of what was asked for is refused: wmav2
// rounds its block size down, a percent or so, but caps it far below large requests.
constexpr double kWrittenBitRateShare = 0.95;

// The bit rate the file gets, or 0 when the encoder refuses to open. WMA's is its block
// size, rounded and capped; the others say what they settled on in the context.
int64_t BitRateWritten(const AVCodec* codec, int64_t bitRate, int32_t sampleRate, int32_t channels,
                       std::mutex& codecLock)
{
    std::lock_guard codecs(codecLock);
    CodecContextPtr context(avcodec.avcodec_alloc_context3(codec));
    if (!context)
        return 0;
    context->bit_rate = bitRate;
    context->sample_rate = sampleRate;
    context->time_base = AVRational{1, sampleRate};
    context->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    avutil.av_channel_layout_default(&context->ch_layout, channels);
    if (avcodec.avcodec_open2(context.get(), codec, nullptr) < 0)
        return 0;
    if (codec->id == AV_CODEC_ID_WMAV1 || codec->id == AV_CODEC_ID_WMAV2)
        return context->frame_size > 0
                   ? int64_t{context->block_align} * 8 * sampleRate / context->frame_size
                   : 0;
    return context->bit_rate;
}

}  // namespace

std::string EncoderBitRateProblem(const std::string& encoder, const std::string& label,
                                  int64_t bitRate, int32_t sampleRate, int32_t channels,
                                  std::mutex& codecLock)
{
    const AVCodec* codec = avcodec.avcodec_find_encoder_by_name(encoder.c_str());
    if (!codec || bitRate <= 0 || sampleRate <= 0 || channels <= 0)
        return {};  // no such encoder, or no audio: the transcode says so
    const int64_t written = BitRateWritten(codec, bitRate, sampleRate, channels, codecLock);
    if (written >= bitRate * kWrittenBitRateShare)
        return {};
    const std::string where =
        Format("at %d Hz with %d channel%s", sampleRate, channels, channels == 1 ? "" : "s");
    const long long asked = bitRate;
    if (written <= 0)
        return Format("the %s encoder refuses %lld bit/s ", label.c_str(), asked) + where;
    return Format("the %s encoder writes at most %lld bit/s ", label.c_str(),
                  static_cast<long long>(written)) +
           where + Format(", not %lld", asked);
}

}  // namespace kelvaro
