// The transcode's main loop: read a packet from the input that lags furthest behind, put
// its timestamps right, decode it (or pass it through) and hand the result to every output
// stream it feeds; at the end drain everything and write the trailers.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "engine/job.h"
#include "engine/media_error.h"
#include "engine/text_format.h"
#include "engine/transcode_state.h"
#include "medialib/media_functions.h"
#include "medialib/media_helpers.h"

namespace kelvaro {
namespace {

int64_t ToMicroseconds(int64_t value, AVRational timeBase)
{
    return avutil.av_rescale_q(value, timeBase, kMicrosecondBase);
}

int64_t FromMicroseconds(int64_t value, AVRational timeBase)
{
    return avutil.av_rescale_q(value, kMicrosecondBase, timeBase);
}

// The time of what a stream has written so far, in seconds; 0 before its first packet.
double WrittenSeconds(const AVStream* stream)
{
    const int64_t end = avformat.av_stream_get_end_pts(stream);
    return end == AV_NOPTS_VALUE ? 0.0 : end * RationalToDouble(stream->time_base);
}

// How far a file may end before its announced length without a warning: durations guessed
// from the bit rate are rough.
int64_t EndTolerance(const AVFormatContext& input)
{
    const int64_t share = input.duration_estimation_method == AVFMT_DURATION_FROM_BITRATE
                              ? input.duration / 10
                              : input.duration / 50;
    return std::max<int64_t>(500000, share);
}

// Why inputs read to their end still are not a plain success; empty when they are.
// Scales interleaved signed samples of `sampleBytes` (2 or 4) by volume / 256, rounded and
// held within the format's range.
void ScaleVolume(uint8_t* data, int size, int sampleBytes, int volume)
{
    if (sampleBytes == 2) {
        auto* samples = reinterpret_cast<int16_t*>(data);
        for (int i = 0; i < size / 2; ++i)
            samples[i] =
                static_cast<int16_t>(Clamp((samples[i] * volume + 128) >> 8, -32768, 32767));
        return;
    }
    auto* samples = reinterpret_cast<int32_t*>(data);
    for (int i = 0; i < size / 4; ++i)
        samples[i] = static_cast<int32_t>(
            Clamp<int64_t>((int64_t{samples[i]} * volume + 128) >> 8, INT32_MIN, INT32_MAX));
}

std::string InputWarning(const TCustomFFmpegHlpr& job, int decodingErrors, bool& endedEarly)
{
    endedEarly = false;
    std::vector<std::string> parts;
    for (int f = 0; f < job.InputFileCount; ++f) {
        const AVFormatContext& input = *job.InputFiles[f].Context;
        const TInputFileState& state = *job.InputFileStates[f];
        const int64_t start = input.start_time != AV_NOPTS_VALUE ? input.start_time : 0;
        const int64_t reached = state.ReachedTime != AV_NOPTS_VALUE ? state.ReachedTime - start : 0;
        const std::string file = job.InputFileCount > 1 ? Format("input #%d: ", f) : std::string();
        const bool announced = input.duration != AV_NOPTS_VALUE && input.duration > 0;
        if (announced && input.duration - reached > EndTolerance(input)) {
            endedEarly = true;
            parts.push_back(
                file +
                Format("the input ended at %.1f s of %.1f s", reached / 1e6, input.duration / 1e6) +
                (state.ReadError < 0 ? ": " + ErrorReason(state.ReadError) : ""));
        } else if (state.ReadError < 0)
            parts.push_back(file + Format("reading the input failed at %.1f s: %s", reached / 1e6,
                                          ErrorReason(state.ReadError).c_str()));
    }
    if (decodingErrors > 0)
        parts.push_back(Format(decodingErrors == 1 ? "%d decoding error" : "%d decoding errors",
                               decodingErrors));
    std::string warning;
    for (const std::string& part : parts)
        warning += (warning.empty() ? "" : "; ") + part;
    return warning;
}

}  // namespace

void TCustomFFmpegHlpr::RunMainLoop()
{
    PacketPtr packet(avcodec.av_packet_alloc());
    if (!packet)
        throw FFMpegException("av_mallocz fail");
    int64_t reportClock = RunStartTime;
    int decodingErrors = 0;
    bool readToEnd = false;  // rather than stopped by a limit or a request
    // Only a request met while reading stops the conversion: one that comes during the
    // final drain finds it complete.
    bool stopped = false;

    for (;;) {
        if (StopRequested) {
            stopped = true;
            break;
        }
        double inputMinimum = 1e100;
        double outputMinimum = 1e100;
        int selected = -1;
        for (const auto& output : OutputStreams) {
            const TInputStreamState& source = *InputStreams[output->SourceIndex];
            const AVMediaType type = output->Encoder()->codec_type;
            const double outputTime =
                type == AVMEDIA_TYPE_VIDEO
                    ? output->OutputClock * RationalToDouble(output->Encoder()->time_base)
                    : WrittenSeconds(output->Stream);
            const double inputTime = static_cast<double>(source.Pts);
            if (!InputFileStates[source.FileIndex]->EofReached) {
                if (inputTime < inputMinimum) {
                    inputMinimum = inputTime;
                    if (InputSync)
                        selected = source.FileIndex;
                }
                if (outputTime < outputMinimum) {
                    outputMinimum = outputTime;
                    if (!InputSync)
                        selected = source.FileIndex;
                }
            }
            if (type >= 0 && type < 4 && output->FrameNumber >= MaxFrames[type]) {
                selected = -1;
                break;
            }
        }
        if (selected < 0) {
            readToEnd = std::all_of(InputFileStates.begin(), InputFileStates.end(),
                                    [](const auto& file) { return file->EofReached != 0; });
            break;
        }
        if (RecordingTime > 0 && RecordingTime / 1000000.0 <= outputMinimum)
            break;
        if (FileSizeLimit != 0) {
            AVIOContext* firstOutput = OutputFiles[0].Context->pb;
            if (firstOutput && avformat.avio_seek(firstOutput, 0, SEEK_CUR) > FileSizeLimit)
                break;
        }

        AVFormatContext* input = InputFiles[selected].Context.get();
        if (const int read = avformat.av_read_frame(input, packet.get()); read < 0) {
            InputFileStates[selected]->EofReached = 1;
            if (read != AVERROR_EOF && read != AVERROR_EXIT)
                InputFileStates[selected]->ReadError = read;
            if (Shortest)
                break;
            continue;
        }
        TInputFileState& file = *InputFileStates[selected];
        if (static_cast<unsigned>(packet->stream_index) < input->nb_streams) {
            ForgetImpossiblePts(selected, *packet);
            const int64_t stamp = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            if (stamp != AV_NOPTS_VALUE) {
                const int64_t end = ToMicroseconds(stamp + std::max<int64_t>(packet->duration, 0),
                                                   input->streams[packet->stream_index]->time_base);
                if (file.ReachedTime == AV_NOPTS_VALUE || end > file.ReachedTime)
                    file.ReachedTime = end;
            }
        }
        if (PacketDump)
            avformat.av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, packet.get(), HexDump,
                                      input->streams[packet->stream_index]);

        if (packet->stream_index < file.StreamCount &&
            !InputStreams[file.FirstStreamIndex + packet->stream_index]->Discard) {
            const int index = file.FirstStreamIndex + packet->stream_index;
            TInputStreamState& stream = *InputStreams[index];
            const AVRational timeBase = stream.Stream->time_base;
            const int64_t offset = FromMicroseconds(InputTimeOffsets[selected], timeBase);
            if (packet->dts != AV_NOPTS_VALUE)
                packet->dts += offset;
            if (packet->pts != AV_NOPTS_VALUE)
                packet->pts += offset;

            if (packet->dts != AV_NOPTS_VALUE && stream.NextPts != AV_NOPTS_VALUE) {
                const int64_t packetTime = ToMicroseconds(packet->dts, timeBase);
                const int64_t delta = packetTime - stream.NextPts;
                if (!KeepTimestamps &&
                    (std::llabs(delta) > TimestampJumpThreshold * 1000000.0 ||
                     packetTime + 1 < stream.Pts)) {
                    InputTimeOffsets[selected] -= delta;
                    // A step back would otherwise reach the outputs: always worth a line.
                    if (JobLogLevel > 2 || (delta < 0 && JobLogLevel > 0))
                        Log(1, Format("timestamp discontinuity %lld, new offset= %lld",
                                      static_cast<long long>(delta),
                                      static_cast<long long>(InputTimeOffsets[selected])));
                    const int64_t shift = FromMicroseconds(delta, timeBase);
                    packet->dts -= shift;
                    if (packet->pts != AV_NOPTS_VALUE)
                        packet->pts -= shift;
                }
            }

            if (DecodePacket(index, packet.get()) < 0) {
                ++decodingErrors;
                if (JobLogLevel >= 0)
                    Log(1, Format("Error while decoding stream #%d.%d", stream.FileIndex,
                                  stream.StreamIndex));
                avcodec.av_packet_unref(packet.get());
                continue;
            }
        }
        avcodec.av_packet_unref(packet.get());

        const int64_t now = avutil.av_gettime();
        if (now - reportClock > ReportInterval) {
            reportClock = now;
            ProgressReport(false);
        }
    }

    // Drain, also after a stop: the outputs end valid up to where the loop stopped.
    for (size_t i = 0; i < InputStreams.size(); ++i) {
        const TInputStreamState& stream = *InputStreams[i];
        if (!stream.DecodingNeeded || DecodePacket(static_cast<int>(i), nullptr) >= 0)
            continue;
        ++decodingErrors;
        if (JobLogLevel >= 0)
            Log(1, Format("Error while decoding stream #%d.%d", stream.FileIndex,
                          stream.StreamIndex));
    }
    int trailerFailure = 0;
    for (int file = 0; file < OutputFileCount; ++file) {
        const int result = avformat.av_write_trailer(OutputFiles[file].Context.get());
        if (result < 0 && trailerFailure == 0)
            trailerFailure = result;
    }
    ProgressReport(true);

    // Outputs that should carry audio and got none; read before the encoders go. Such an
    // output is only a valid shell: the conversion did not happen, and the job says so
    // rather than reporting success.
    std::string silentSource;
    bool audioConverted = false;
    for (const auto& output : OutputStreams) {
        if (output->Encoder()->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        const TInputStreamState& source = *InputStreams[output->SourceIndex];
        if (output->EncodingNeeded ? source.DecodedBytes > 0 : output->FrameNumber > 0)
            audioConverted = true;
        else if (silentSource.empty())
            silentSource = InputFiles[source.FileIndex].Context->url;
    }
    CloseOpenedCodecs();
    // An output whose end could not be written is not a finished conversion.
    if (trailerFailure < 0)
        throw FFMpegException(MediaErrorText("av_write_trailer()", trailerFailure));
    if (readToEnd && !stopped) {
        TranscodeWarning = InputWarning(*this, decodingErrors, InputEndedEarly);
        if (!audioConverted && !silentSource.empty())
            throw FFMpegException(Format(
                "%s: no audio could be converted: %s", silentSource.c_str(),
                TranscodeWarning.empty() ? "the input holds none" : TranscodeWarning.c_str()));
        if (!TranscodeWarning.empty() && JobLogLevel >= 0)
            Log(0, TranscodeWarning);
    }
    Finished = !stopped;
}

void TCustomFFmpegHlpr::ForgetImpossiblePts(int inputFileIndex, AVPacket& packet)
{
    if (KeepTimestamps || packet.pts == AV_NOPTS_VALUE || packet.dts == AV_NOPTS_VALUE)
        return;
    // A damaged header (seen in broken MPEG files) can put one picture hours after its
    // neighbours; the sync clock would then repeat the picture before it for those hours,
    // into gigabytes of output. The decoder guesses a time from the decoding times instead.
    const AVRational timeBase =
        InputFiles[inputFileIndex].Context->streams[packet.stream_index]->time_base;
    // In floating point: damaged times may be anywhere in the 64-bit range.
    const double gap = static_cast<double>(ToMicroseconds(packet.pts, timeBase)) -
                       static_cast<double>(ToMicroseconds(packet.dts, timeBase));
    if (std::fabs(gap) <= TimestampJumpThreshold * 1000000.0)
        return;
    if (JobLogLevel > 0)
        Log(1, Format("presentation time of stream #%d.%d lies %.0f us from its decoding time, "
                      "ignored",
                      inputFileIndex, packet.stream_index, gap));
    packet.pts = AV_NOPTS_VALUE;
}

int TCustomFFmpegHlpr::DecodePacket(int inputStreamIndex, const AVPacket* packet)
{
    TInputStreamState& input = *InputStreams[inputStreamIndex];
    const AVStream* stream = input.Stream;
    if (input.NextPts == AV_NOPTS_VALUE)
        input.NextPts = input.Pts;
    if (packet) {
        if (packet->dts != AV_NOPTS_VALUE)
            input.Pts = input.NextPts = ToMicroseconds(packet->dts, stream->time_base);
        if (packet->size <= 0)
            return 0;
    }

    const AVMediaType type = stream->codecpar->codec_type;
    if (input.DecodingNeeded) {
        int result = -1;
        if (type == AVMEDIA_TYPE_AUDIO)
            result = DecodeAudio(inputStreamIndex, packet);
        else if (type == AVMEDIA_TYPE_VIDEO)
            result = DecodeVideo(inputStreamIndex, packet);
        else if (type == AVMEDIA_TYPE_SUBTITLE)
            result = DecodeSubtitle(inputStreamIndex, packet);
        if (result < 0) {
            // What reached the outputs before the failure still gets the encoders' tails.
            if (!packet)
                DrainOutputStreams(inputStreamIndex);
            return -1;
        }
    } else if (packet) {
        input.Pts = input.NextPts;
        if (packet->duration > 0)
            input.NextPts += ToMicroseconds(packet->duration, stream->time_base);
        else if (type == AVMEDIA_TYPE_AUDIO && stream->codecpar->frame_size > 0 &&
                 stream->codecpar->sample_rate > 0)
            input.NextPts += int64_t{1000000} * stream->codecpar->frame_size /
                             stream->codecpar->sample_rate;
        else if (type == AVMEDIA_TYPE_VIDEO && stream->r_frame_rate.num > 0)
            input.NextPts += int64_t{1000000} * stream->r_frame_rate.den / stream->r_frame_rate.num;
    }

    if (!packet) {
        DrainOutputStreams(inputStreamIndex);
        return 0;
    }
    if (StartTime != 0 && input.Pts < StartTime)
        return 0;
    for (const auto& output : OutputStreams)
        if (output->SourceIndex == inputStreamIndex && !output->EncodingNeeded)
            CopyPacket(*output, input, *packet);
    return 0;
}

int TCustomFFmpegHlpr::DecodeAudio(int inputStreamIndex, const AVPacket* packet)
{
    TInputStreamState& input = *InputStreams[inputStreamIndex];
    if (packet && input.FirstPacketTime == AV_NOPTS_VALUE)
        input.FirstPacketTime = input.NextPts;
    return DecodeFrames(input, packet, [&](AVFrame& frame) {
        // The first frame belongs at the first packet's time, not at the time of the packet
        // that released it; later frames keep that distance.
        if (input.DecoderDelay == AV_NOPTS_VALUE)
            input.DecoderDelay = input.FirstPacketTime == AV_NOPTS_VALUE
                                     ? 0
                                     : std::max<int64_t>(0, input.NextPts - input.FirstPacketTime);
        input.Pts = input.NextPts - input.DecoderDelay;
        int size = 0;
        const uint8_t* data = ConvertToInterleaved(input, frame, size);
        if (!data)
            return false;
        if (size <= 0)
            return true;
        input.DecodedBytes += size;
        input.NextPts +=
            int64_t{size} * 1000000 /
            (int64_t{input.ToInterleavedRate} * input.ToInterleavedChannels * input.SampleBytes);
        if (AudioVolume != 256)
            ScaleVolume(DecodeBuffer.data(), size, input.SampleBytes, AudioVolume);
        EmulateRate(input);
        DispatchDecoded(inputStreamIndex, data, size, nullptr, nullptr, AV_NOPTS_VALUE);
        return true;
    });
}

int TCustomFFmpegHlpr::DecodeVideo(int inputStreamIndex, const AVPacket* packet)
{
    TInputStreamState& input = *InputStreams[inputStreamIndex];
    const AVRational rate = input.Decoder()->framerate.num > 0 ? input.Decoder()->framerate
                                                               : input.Stream->r_frame_rate;
    const int64_t frameDuration =
        rate.num > 0 && rate.den > 0 ? int64_t{1000000} * rate.den / rate.num : 0;
    return DecodeFrames(input, packet, [&](AVFrame& picture) {
        // Pictures come out in presentation order, not in the order of the packets that
        // release them (B-frames): each takes its own time.
        input.Pts = picture.best_effort_timestamp != AV_NOPTS_VALUE
                        ? ToMicroseconds(picture.best_effort_timestamp, input.Stream->time_base)
                        : input.NextPts;
        input.NextPts = input.Pts + frameDuration;
        input.Quality = static_cast<float>(picture.quality);
        EmulateRate(input);
        DispatchDecoded(inputStreamIndex, nullptr, 0, &picture, nullptr, AV_NOPTS_VALUE);
        return true;
    });
}

const uint8_t* TCustomFFmpegHlpr::ConvertToInterleaved(TInputStreamState& input,
                                                       const AVFrame& frame, int& size)
{
    const int channels = frame.ch_layout.nb_channels;
    if (channels <= 0 || frame.sample_rate <= 0)
        return nullptr;
    // Grows only; never below what a second of audio used to need.
    const size_t needed = static_cast<size_t>(frame.nb_samples) * channels * input.SampleBytes;
    if (DecodeBuffer.size() < std::max<size_t>(needed, 192000))
        DecodeBuffer.resize(std::max<size_t>(needed, 192000));
    if (frame.format == input.SampleFormat) {
        // Already what the output paths want (WAV, most PCM): a copy will do.
        input.ToInterleavedFormat = frame.format;
        input.ToInterleavedRate = frame.sample_rate;
        input.ToInterleavedChannels = channels;
        std::memcpy(DecodeBuffer.data(), frame.data[0], needed);
        size = static_cast<int>(needed);
        return DecodeBuffer.data();
    }
    if (!input.ToInterleaved || input.ToInterleavedFormat != frame.format ||
        input.ToInterleavedRate != frame.sample_rate || input.ToInterleavedChannels != channels) {
        AVChannelLayout layout{};
        avutil.av_channel_layout_default(&layout, channels);
        SwrContext* context = nullptr;
        const int result = swresample.swr_alloc_set_opts2(
            &context, &layout, input.SampleFormat, frame.sample_rate,
            const_cast<AVChannelLayout*>(&frame.ch_layout),
            static_cast<AVSampleFormat>(frame.format), frame.sample_rate, 0, nullptr);
        input.ToInterleaved.reset(context);
        avutil.av_channel_layout_uninit(&layout);
        if (result < 0 || swresample.swr_init(context) < 0) {
            input.ToInterleaved.reset();
            return nullptr;
        }
        input.ToInterleavedFormat = frame.format;
        input.ToInterleavedRate = frame.sample_rate;
        input.ToInterleavedChannels = channels;
    }
    uint8_t* out = DecodeBuffer.data();
    const int converted = swresample.swr_convert(
        input.ToInterleaved.get(), &out,
        static_cast<int>(DecodeBuffer.size() / (static_cast<size_t>(input.SampleBytes) * channels)),
        const_cast<const uint8_t**>(frame.extended_data), frame.nb_samples);
    if (converted < 0)
        return nullptr;
    size = converted * input.SampleBytes * channels;
    return out;
}

void TCustomFFmpegHlpr::EmulateRate(TInputStreamState& input)
{
    if (!input.RateEmulation)
        return;
    const AVRational timeBase =
        input.Stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO
            ? AVRational{1, input.Stream->codecpar->sample_rate}
            : AVRational{input.Stream->r_frame_rate.den, input.Stream->r_frame_rate.num};
    if (timeBase.den <= 0)
        return;
    const int64_t target =
        avutil.av_rescale(int64_t{input.FrameCount} * timeBase.num, 1000000, timeBase.den);
    const int64_t elapsed = avutil.av_gettime() - input.RateEmuStart;
    if (target - elapsed > 50000)
        std::this_thread::sleep_for(std::chrono::milliseconds((target - elapsed) / 1000));
    ++input.FrameCount;
}

int TCustomFFmpegHlpr::DecodeSubtitle(int inputStreamIndex, const AVPacket* packet)
{
    TInputStreamState& input = *InputStreams[inputStreamIndex];
    if (!input.OpenedDecoder)
        return -1;
    input.Pts = input.NextPts;
    // Subtitle decoders take one packet at a time; none flushes them.
    AVSubtitle subtitle{};
    int got = 0;
    if (input.OpenedDecoder->DecodeSubtitle(packet, &subtitle, &got) < 0)
        return -1;
    if (!got)
        return 0;
    struct Release {
        AVSubtitle* subtitle;
        ~Release() { avcodec.avsubtitle_free(subtitle); }
    } release{&subtitle};
    DispatchDecoded(inputStreamIndex, nullptr, 0, nullptr, &subtitle,
                    packet ? packet->pts : AV_NOPTS_VALUE);
    return 0;
}

void TCustomFFmpegHlpr::DispatchDecoded(int inputStreamIndex, const uint8_t* data, int size,
                                        const AVFrame* picture, AVSubtitle* subtitle,
                                        int64_t packetPts)
{
    TInputStreamState& input = *InputStreams[inputStreamIndex];
    if (StartTime != 0 && input.Pts < StartTime)
        return;
    for (const auto& output : OutputStreams) {
        if (output->SourceIndex != inputStreamIndex || !output->EncodingNeeded)
            continue;
        switch (output->Encoder()->codec_type) {
        case AVMEDIA_TYPE_AUDIO:
            if (data)
                DoAudioOutput(*output, input, data, size);
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            if (subtitle)
                DoSubtitleOutput(*output, input, *subtitle, packetPts);
            break;
        case AVMEDIA_TYPE_VIDEO:
            if (picture)
                DoVideoOutput(*output, input, *picture);
            break;
        default:
            throw FFMpegException("invalid codec_type");
        }
    }
}

void TCustomFFmpegHlpr::CopyPacket(TOutputStreamState& output, TInputStreamState& input,
                                   const AVPacket& packet)
{
    // A copy starts at a key packet, or its first pictures would not decode.
    if (output.FrameNumber == 0 && !(packet.flags & AV_PKT_FLAG_KEY))
        return;
    const AVMediaType type = output.Encoder()->codec_type;
    if (type == AVMEDIA_TYPE_AUDIO) {
        AudioBytesWritten += packet.size;
    } else if (type == AVMEDIA_TYPE_VIDEO) {
        VideoBytesWritten += packet.size;
        ++output.OutputClock;
    }
    PacketPtr copy(avcodec.av_packet_alloc());
    if (!copy || avcodec.av_packet_ref(copy.get(), &packet) < 0)
        throw FFMpegException("av_mallocz fail");
    const AVRational from = input.Stream->time_base;
    const AVRational to = output.Stream->time_base;
    copy->stream_index = output.StreamIndex;
    copy->pts = packet.pts != AV_NOPTS_VALUE ? avutil.av_rescale_q(packet.pts, from, to)
                                             : AV_NOPTS_VALUE;
    copy->dts = packet.dts == AV_NOPTS_VALUE ? FromMicroseconds(input.NextPts, to)
                                             : avutil.av_rescale_q(packet.dts, from, to);
    copy->duration = avutil.av_rescale_q(packet.duration, from, to);
    copy->flags = packet.flags;
    WritePacket(output, copy.get());
    ++output.FrameNumber;
}

void TCustomFFmpegHlpr::DrainOutputStreams(int inputStreamIndex)
{
    for (const auto& output : OutputStreams) {
        if (output->SourceIndex != inputStreamIndex || !output->EncodingNeeded)
            continue;
        if (output->Encoder()->codec_type == AVMEDIA_TYPE_AUDIO)
            DrainAudioEncoder(*output);
        else if (output->Encoder()->codec_type == AVMEDIA_TYPE_VIDEO)
            SendToEncoder(*output, nullptr);
    }
}

}  // namespace kelvaro
