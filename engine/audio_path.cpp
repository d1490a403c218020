// The audio output path: keeps the output in step with the input clock, converts rate and
// channels, cuts the samples into the encoder's frames, encodes and writes them. Samples
// travel as interleaved signed 16-bit (or 32-bit, see TInputStreamState::SampleFormat) bytes
// until the encoder's own format is needed.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/job.h"
#include "engine/text_format.h"
#include "engine/transcode_state.h"
#include "medialib/media_functions.h"
#include "medialib/media_helpers.h"

namespace kelvaro {
namespace {

constexpr double kDriftFloorSamples = 50;
constexpr int64_t kPaddingLimitBytes = 131072;

int Channels(const AVCodecContext* context)
{
    return context->ch_layout.nb_channels;
}

}  // namespace

void TCustomFFmpegHlpr::DoAudioOutput(TOutputStreamState& output, TInputStreamState& input,
                                      const uint8_t* data, int size)
{
    AVCodecContext* encoder = output.Encoder();
    const int encoderChannels = Channels(encoder);
    const int encoderRate = encoder->sample_rate;
    const int decoderChannels = input.ToInterleavedChannels;
    const int decoderRate = input.ToInterleavedRate;
    const int sampleBytes = output.SampleBytes;

    // Decoded audio may change rate or channel count mid-stream (files joined together,
    // broadcasts switching between stereo and surround): what the resampler holds is of the
    // old kind, and the new kind needs a resampler of its own, or none.
    output.AudioResample =
        AudioSyncMode > 1 || encoderRate != decoderRate || encoderChannels != decoderChannels;
    if (output.ResampleContext &&
        (!output.AudioResample || output.ResampleInputRate != decoderRate ||
         output.ResampleInputChannels != decoderChannels)) {
        FlushResampler(output);
        output.ResampleContext.reset();
    }
    if (output.AudioResample && !output.ResampleContext) {
        AVChannelLayout from{}, to{};
        avutil.av_channel_layout_default(&from, decoderChannels);
        avutil.av_channel_layout_default(&to, encoderChannels);
        SwrContext* context = nullptr;
        int result =
            swresample.swr_alloc_set_opts2(&context, &to, output.SampleFormat, encoderRate, &from,
                                           output.SampleFormat, decoderRate, 0, nullptr);
        output.ResampleContext.reset(context);
        if (result >= 0)
            result = swresample.swr_init(context);
        avutil.av_channel_layout_uninit(&from);
        avutil.av_channel_layout_uninit(&to);
        if (result < 0) {
            output.ResampleContext.reset();
            throw FFMpegException(
                Format("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                       decoderChannels, decoderRate, encoderChannels, encoderRate));
        }
        output.ResampleInputRate = decoderRate;
        output.ResampledIn = output.ResampledOut = 0;
        output.ResampleInputChannels = decoderChannels;
    }
    if (!output.AudioReceived) {
        output.AudioReceived = true;
        PrimeEncoder(output);
    }

    const double syncTime = (output.SyncStream->Pts - StartTime) / 1000000.0;
    const int64_t fifoBytes = static_cast<int64_t>(avutil.av_fifo_can_read(output.Fifo.get()));
    if (AudioSyncMode != 0) {
        const double fifoSamples = fifoBytes / (static_cast<double>(sampleBytes) * encoderChannels);
        const double delta = syncTime * encoderRate - output.OutputClock - fifoSamples;
        const double inputDelta = delta * decoderRate / encoderRate;
        int64_t byteDelta = static_cast<int64_t>(inputDelta) * sampleBytes * decoderChannels;
        if (std::fabs(delta) > kDriftFloorSamples) {
            if (input.AudioStartPending || std::fabs(delta) > AudioDriftThreshold * encoderRate) {
                if (byteDelta < 0) {
                    // The output is ahead: trim the start of this block.
                    byteDelta = std::max<int64_t>(byteDelta, -size);
                    size += static_cast<int>(byteDelta);
                    data -= byteDelta;
                    if (JobLogLevel > 2)
                        Log(1, Format("discarding %lld audio samples",
                                      static_cast<long long>(-delta)));
                    if (size <= 0)
                        return;
                    input.AudioStartPending = 0;
                } else {
                    // The output is behind: put silence in front, within a limit per call.
                    if (size + byteDelta <= kPaddingLimitBytes)
                        input.AudioStartPending = 0;
                    else
                        byteDelta = std::max<int64_t>(0, kPaddingLimitBytes - size);
                    // Whole sample frames only: 3, 5 or 6 channels do not divide the limit.
                    byteDelta -= byteDelta % (sampleBytes * decoderChannels);
                    SilenceBuffer.resize(static_cast<size_t>(size + byteDelta));
                    std::memset(SilenceBuffer.data(), 0, static_cast<size_t>(byteDelta));
                    std::memcpy(SilenceBuffer.data() + byteDelta, data, static_cast<size_t>(size));
                    data = SilenceBuffer.data();
                    size += static_cast<int>(byteDelta);
                    if (JobLogLevel > 2)
                        Log(1, Format("adding %lld audio samples of silence",
                                      static_cast<long long>(delta)));
                }
            } else if (AudioSyncMode > 1 && output.ResampleContext) {
                const int compensation =
                    Clamp(static_cast<int>(delta), -AudioSyncMode, AudioSyncMode);
                if (JobLogLevel > 2)
                    Log(1, Format("compensating audio timestamp drift:%f compensation:%d in:%d",
                                  delta, compensation, encoderRate));
                swresample.swr_set_compensation(output.ResampleContext.get(), compensation,
                                                encoderRate);
            }
        }
    } else {
        // What the resampler still holds has not reached the FIFO either.
        const int64_t resamplerHeld =
            output.ResampleContext
                ? swresample.swr_get_delay(output.ResampleContext.get(), encoderRate)
                : 0;
        output.OutputClock = static_cast<int64_t>(std::nearbyint(syncTime * encoderRate)) -
                             fifoBytes / (sampleBytes * encoderChannels) - resamplerHeld;
    }

    const uint8_t* samples = data;
    int bytes = size;
    if (output.AudioResample) {
        const int inputSamples = size / (sampleBytes * decoderChannels);
        const int capacity = swresample.swr_get_out_samples(output.ResampleContext.get(), inputSamples);
        const size_t needed =
            static_cast<size_t>(std::max(capacity, 0)) * sampleBytes * encoderChannels;
        if (AudioSampleBuffer.size() < std::max<size_t>(needed, 262144))
            AudioSampleBuffer.resize(std::max<size_t>(needed, 262144));
        uint8_t* out = AudioSampleBuffer.data();
        const int converted = swresample.swr_convert(output.ResampleContext.get(), &out, capacity,
                                                     &data, inputSamples);
        if (converted < 0)
            throw FFMpegException(Format("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                                         decoderChannels, decoderRate, encoderChannels, encoderRate));
        samples = out;
        bytes = converted * sampleBytes * encoderChannels;
        output.ResampledIn += inputSamples;
        output.ResampledOut += converted;
    }
    EncodeAudioSamples(output, samples, bytes);
}

void TCustomFFmpegHlpr::PrimeEncoder(TOutputStreamState& output)
{
    // The WMA decoders give back nothing of the first frame they decode: it only primes
    // their transform. A frame of silence ahead of the sound keeps its first samples, and
    // puts its first sample at the start of the decoded output.
    AVCodecContext* encoder = output.Encoder();
    if ((encoder->codec_id != AV_CODEC_ID_WMAV1 && encoder->codec_id != AV_CODEC_ID_WMAV2) ||
        encoder->initial_padding <= 0)
        return;
    const size_t bytes =
        static_cast<size_t>(encoder->initial_padding) * output.SampleBytes * Channels(encoder);
    const std::vector<uint8_t> silence(bytes, 0);
    AVFifo* fifo = output.Fifo.get();
    const size_t room = avutil.av_fifo_can_write(fifo);
    if ((room < bytes && avutil.av_fifo_grow2(fifo, bytes - room) < 0) ||
        avutil.av_fifo_write(fifo, silence.data(), bytes) < 0)
        throw FFMpegException("av_fifo_init fail");
    // The silence goes before the input's first sample rather than taking its place.
    output.OutputClock -= encoder->initial_padding;
}

void TCustomFFmpegHlpr::EncodeAudioSamples(TOutputStreamState& output, const uint8_t* samples,
                                           int bytes)
{
    AVCodecContext* encoder = output.Encoder();
    const int sampleBytes = output.SampleBytes * Channels(encoder);
    if (encoder->frame_size <= 1) {
        // Sample encoders (PCM) take any number of samples: one frame per block.
        SendSamples(output, samples, bytes / sampleBytes);
        return;
    }
    // Frame encoders get exactly frame_size samples at a time, cut from the FIFO; the rest
    // waits for the next block or the drain.
    AVFifo* fifo = output.Fifo.get();
    const size_t room = avutil.av_fifo_can_write(fifo);
    if (room < static_cast<size_t>(bytes) + 1)
        avutil.av_fifo_grow2(fifo, static_cast<size_t>(bytes) + 1 - room);
    if (avutil.av_fifo_write(fifo, samples, static_cast<size_t>(bytes)) < 0)
        throw FFMpegException("av_fifo_init fail");
    const size_t frameBytes = static_cast<size_t>(encoder->frame_size) * sampleBytes;
    if (AudioSampleBuffer.size() < frameBytes)
        AudioSampleBuffer.resize(frameBytes);
    while (avutil.av_fifo_can_read(fifo) >= frameBytes) {
        avutil.av_fifo_read(fifo, AudioSampleBuffer.data(), frameBytes);
        SendSamples(output, AudioSampleBuffer.data(), encoder->frame_size);
    }
}

void TCustomFFmpegHlpr::SendSamples(TOutputStreamState& output, const uint8_t* samples, int frames)
{
    if (frames <= 0)
        return;
    AVCodecContext* encoder = output.Encoder();
    if (!EncoderFrame)
        EncoderFrame.reset(avutil.av_frame_alloc());
    AVFrame* frame = EncoderFrame.get();
    if (!frame)
        throw FFMpegException("av_mallocz fail");
    frame->nb_samples = frames;
    frame->format = encoder->sample_fmt;
    frame->sample_rate = encoder->sample_rate;
    avutil.av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout);
    if (avutil.av_frame_get_buffer(frame, 0) < 0)
        throw FFMpegException("av_mallocz fail");
    if (encoder->sample_fmt == output.SampleFormat) {
        std::memcpy(frame->data[0], samples,
                    static_cast<size_t>(frames) * output.SampleBytes * Channels(encoder));
    } else {
        if (!output.ToEncoderFormat) {
            SwrContext* context = nullptr;
            swresample.swr_alloc_set_opts2(&context, &encoder->ch_layout, encoder->sample_fmt,
                                           encoder->sample_rate, &encoder->ch_layout,
                                           output.SampleFormat, encoder->sample_rate, 0, nullptr);
            output.ToEncoderFormat.reset(context);
            if (!context || swresample.swr_init(context) < 0)
                throw FFMpegException("Audio encoding failed");
        }
        // Same rate: the conversion hands back every sample at once.
        if (swresample.swr_convert(output.ToEncoderFormat.get(), frame->extended_data, frames,
                                   &samples, frames) < 0)
            throw FFMpegException("Audio encoding failed");
    }
    frame->pts = output.OutputClock;
    output.OutputClock += frames;
    SendToEncoder(output, frame);
    avutil.av_frame_unref(frame);
}

void TCustomFFmpegHlpr::FlushResampler(TOutputStreamState& output)
{
    if (!output.ResampleContext)
        return;
    const int sampleBytes = output.SampleBytes * Channels(output.Encoder());
    const int capacity = swresample.swr_get_out_samples(output.ResampleContext.get(), 0);
    if (capacity <= 0)
        return;
    std::vector<uint8_t> rest(static_cast<size_t>(capacity) * sampleBytes);
    uint8_t* out = rest.data();
    int flushed = swresample.swr_convert(output.ResampleContext.get(), &out, capacity, nullptr, 0);
    // Exactly the input's length at the new rate, unless drift compensation changed it.
    if (AudioSyncMode <= 1 && output.ResampleInputRate > 0) {
        const int64_t length =
            avutil.av_rescale_rnd(output.ResampledIn, output.Encoder()->sample_rate,
                                  output.ResampleInputRate, AV_ROUND_NEAR_INF);
        flushed = static_cast<int>(std::clamp<int64_t>(length - output.ResampledOut, 0, flushed));
    }
    if (flushed > 0)
        EncodeAudioSamples(output, rest.data(), flushed * sampleBytes);
}

void TCustomFFmpegHlpr::DrainAudioEncoder(TOutputStreamState& output)
{
    AVCodecContext* encoder = output.Encoder();
    const int sampleBytes = output.SampleBytes * Channels(encoder);
    // Nothing to finish: an encoder that was given nothing must not make up a frame.
    if (!output.AudioReceived) {
        SendToEncoder(output, nullptr);
        return;
    }

    // The resampler keeps a few samples back; they belong to the end of the output.
    FlushResampler(output);

    if (encoder->frame_size > 1) {
        const int capabilities = encoder->codec ? encoder->codec->capabilities : 0;
        const size_t frameBytes = static_cast<size_t>(encoder->frame_size) * sampleBytes;
        const size_t left = avutil.av_fifo_can_read(output.Fifo.get());
        if (left > 0) {
            std::vector<uint8_t> last(frameBytes, 0);
            avutil.av_fifo_read(output.Fifo.get(), last.data(), left);
            // An encoder that takes a short last frame gets just the rest; any other gets the
            // rest followed by silence, rather than losing it.
            const bool shortFrameAllowed =
                capabilities & (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
            SendSamples(output, last.data(),
                        shortFrameAllowed ? static_cast<int>(left) / sampleBytes
                                          : encoder->frame_size);
        }
        // An encoder that delays its output without being able to flush it (wmav2 keeps the
        // audio of its last frame) needs that much more input before everything comes out.
        if (!(capabilities & AV_CODEC_CAP_DELAY) && encoder->initial_padding > 0) {
            const std::vector<uint8_t> silence(frameBytes, 0);
            for (int padded = 0; padded < encoder->initial_padding; padded += encoder->frame_size)
                SendSamples(output, silence.data(), encoder->frame_size);
        }
    }
    SendToEncoder(output, nullptr);
}

}  // namespace kelvaro
