// Opening an input: the job's pending settings go to the demuxer, the streams are probed,
// the input is positioned at the start time, and its geometry, rate and audio format are
// taken back into the job for the outputs to inherit.

#include <algorithm>
#include <cctype>

#include "engine/job.h"
#include "engine/media_error.h"
#include "engine/text_format.h"
#include "medialib/local_file_stream.h"
#include "medialib/media_functions.h"
#include "medialib/realvideo_library.h"

namespace kelvaro {
namespace {

std::string LowerCaseExtension(const std::string& fileName)
{
    const size_t slash = fileName.rfind('/');
    const size_t dot = fileName.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string extension = fileName.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

// Demuxers that read other files or sources named inside the file: playlists, concat
// scripts, stream descriptions, scripts, image sequences. Formats that open their sources by
// name themselves (no byte stream) are of this kind too.
bool ReadsOtherResources(const AVInputFormat* format)
{
    if (format->flags & AVFMT_NOFILE)
        return true;
    // vobsub opens the ".sub" beside its ".idx" as an input of its own, past io_open.
    static const char* const kReferencing[] = {"hls",         "dash",   "concat", "imf",
                                               "sdp",         "rtsp",   "rtp",    "avisynth",
                                               "vapoursynth", "image2", "vobsub"};
    const std::string names = format->name ? format->name : "";
    size_t start = 0;
    while (start <= names.size()) {
        const size_t comma = std::min(names.find(',', start), names.size());
        const std::string name = names.substr(start, comma - start);
        for (const char* referencing : kReferencing)
            if (name == referencing)
                return true;
        start = comma + 1;
    }
    return false;
}

// Every nested open a demuxer asks for is refused: only the named file is read. The
// context's `opaque` counts the refusals while the input is being opened.
int RefuseNestedOpen(AVFormatContext* context, AVIOContext**, const char*, int, AVDictionary**)
{
    if (context && context->opaque)
        ++*static_cast<int*>(context->opaque);
    return AVERROR(EPERM);
}

std::string ChannelLayoutText(int channels)
{
    if (channels == 1)
        return "mono";
    if (channels == 2)
        return "stereo";
    return std::to_string(channels) + "C";
}

struct LocalStreamClose {
    void operator()(AVIOContext* stream) const { CloseLocalFileStream(stream); }
};

}  // namespace

int TCustomFFmpegHlpr::StopWasRequested(void* job)
{
    return static_cast<const TCustomFFmpegHlpr*>(job)->StopRequested.load() ? 1 : 0;
}

void TCustomFFmpegHlpr::ClearPendingInputSettings()
{
    ForcedInputFormat = nullptr;
    ForcedOutputFormat = nullptr;
    VideoChannel = 0;
    RateEmulation = 0;
    VideoCodecName.clear();
    AudioCodecName.clear();
    SubtitleCodecName.clear();
}

bool TCustomFFmpegHlpr::FailInputOpen(const std::string& reason)
{
    if (!reason.empty())
        LastError = reason;
    ClearPendingInputSettings();
    return false;
}

// Returns the input's own time of the start position, from which its time offset follows.
int64_t TCustomFFmpegHlpr::SeekToStartTime(AVFormatContext* input) const
{
    int64_t timestamp = StartTime;
    if (input->start_time != AV_NOPTS_VALUE)
        timestamp += input->start_time;
    if (StartTime != 0)
        avformat.av_seek_frame(input, -1, timestamp, AVSEEK_FLAG_BACKWARD);  // best effort
    return timestamp;
}

bool TCustomFFmpegHlpr::OpenInputFile(const std::string& fileName)
{
    if (InputFileCount >= kMaxFiles)
        return FailInputOpen(
            Format("%s: too many input files (at most %d)", fileName.c_str(), kMaxFiles));

    InputContextPtr input(avformat.avformat_alloc_context());
    if (!input)
        return FailInputOpen(MediaErrorText(fileName, AVERROR(ENOMEM)));

    // Hints for demuxers that cannot learn these from the file (raw audio and video). A
    // demuxer that knows a key rejects an unset value, so only set values are passed.
    Dictionary hints;
    AVDictionary** hintsAddress = hints.Address();
    avutil.av_dict_set(hintsAddress, "sample_rate", std::to_string(AudioSampleRate).c_str(), 0);
    avutil.av_dict_set(hintsAddress, "ch_layout", ChannelLayoutText(AudioChannels).c_str(), 0);
    const int width = FrameWidth + PadLeft + PadRight;
    const int height = FrameHeight + PadTop + PadBottom;
    if (width > 0 && height > 0)
        avutil.av_dict_set(hintsAddress, "video_size",
                           (std::to_string(width) + "x" + std::to_string(height)).c_str(), 0);
    if (FramePixelFormat >= 0)
        if (const char* name =
                avutil.av_get_pix_fmt_name(static_cast<AVPixelFormat>(FramePixelFormat)))
            avutil.av_dict_set(hintsAddress, "pixel_format", name, 0);
    if (FrameRate.num > 0 && FrameRate.den > 0)
        avutil.av_dict_set(hintsAddress, "framerate",
                           Format("%d/%d", FrameRate.num, FrameRate.den).c_str(), 0);
    if (LoopInput != 0)
        avutil.av_dict_set(hintsAddress, "loop", std::to_string(LoopInput).c_str(), 0);
    // Local files only: a crafted playlist or reference file must not make the converter
    // reach the network or any other protocol.
    avutil.av_dict_set(hintsAddress, "protocol_whitelist", "file", 0);

    AVCodecID videoId = AV_CODEC_ID_NONE;
    AVCodecID audioId = AV_CODEC_ID_NONE;
    AVCodecID subtitleId = AV_CODEC_ID_NONE;
    if (!FindCodecId(VideoCodecName, mkVideo, false, videoId) ||
        !FindCodecId(AudioCodecName, mkAudio, false, audioId) ||
        !FindCodecId(SubtitleCodecName, mkSubtitle, false, subtitleId))
        return FailInputOpen({});
    if (PgmYuvRequested)
        videoId = AV_CODEC_ID_PGMYUV;

    Dictionary formatOptions;
    ApplyRecordedOptions(input.get(), DefaultFormatContext.get(), AV_OPT_FLAG_DECODING_PARAM,
                         &formatOptions);
    avutil.av_dict_copy(hintsAddress, formatOptions.Get(), 0);
    input->video_codec_id = videoId;
    input->audio_codec_id = audioId;
    input->subtitle_codec_id = subtitleId;

    // The named file is read through the engine's own byte stream: its name is a path, never
    // a URL, and a stop ends a read that waits.
    int streamError = 0;
    std::unique_ptr<AVIOContext, LocalStreamClose> stream(
        OpenLocalFileStream(fileName, StopRequested, streamError));
    if (!stream)
        return FailInputOpen(MediaErrorText(fileName, streamError));
    const AVInputFormat* format = ForcedInputFormat;
    if (!format) {
        const int probed =
            avformat.av_probe_input_buffer2(stream.get(), &format, fileName.c_str(), nullptr, 0, 0);
        if (probed < 0)
            return FailInputOpen(MediaErrorText(fileName, probed));
    }
    const std::string refusal =
        Format("%s: playlists and reference files are not converted", fileName.c_str());
    if (ReadsOtherResources(format))
        return FailInputOpen(refusal);
    int nestedOpens = 0;
    input->pb = stream.get();
    input->io_open = &RefuseNestedOpen;
    input->opaque = &nestedOpens;
    input->interrupt_callback = AVIOInterruptCB{&TCustomFFmpegHlpr::StopWasRequested, this};

    AVFormatContext* opened = input.release();  // the library frees it when the open fails
    const int openResult =
        avformat.avformat_open_input(&opened, fileName.c_str(), format, hintsAddress);
    if (openResult < 0)
        return FailInputOpen(nestedOpens > 0 ? refusal : MediaErrorText(fileName, openResult));
    stream.release();  // closed with the input from here on
    input.reset(opened);

    if (ProgramId != 0)
        for (unsigned i = 0; i < input->nb_programs; ++i)
            if (input->programs[i]->id != ProgramId)
                input->programs[i]->discard = AVDISCARD_ALL;

    int probeResult;
    {
        std::lock_guard lock(*CodecLock);
        probeResult = avformat.avformat_find_stream_info(input.get(), nullptr);
    }
    input->opaque = nullptr;
    if (nestedOpens > 0)
        return FailInputOpen(refusal);
    if (probeResult < 0 && JobLogLevel >= 0)
        return FailInputOpen(Format("%s: could not find codec parameters: %s", fileName.c_str(),
                                    ErrorReason(probeResult).c_str()));

    const int64_t timestamp = SeekToStartTime(input.get());
    StartTime = 0;

    TInputFile file;
    const std::string extension = LowerCaseExtension(fileName);
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        AVStream* stream = input->streams[i];
        AVCodecParameters* parameters = stream->codecpar;
        if (parameters->codec_type < AVMEDIA_TYPE_UNKNOWN ||
            parameters->codec_type > AVMEDIA_TYPE_ATTACHMENT) {
            ClearPendingInputSettings();
            throw FFMpegException("invalid codec_type");
        }

        // Streams carry parameters only; the engine keeps a decoder context per stream.
        CodecContextPtr decoder(avcodec.avcodec_alloc_context3(nullptr));
        if (!decoder || avcodec.avcodec_parameters_to_context(decoder.get(), parameters) < 0)
            return FailInputOpen(MediaErrorText(fileName, AVERROR(ENOMEM)));
        decoder->pkt_timebase = stream->time_base;
        // Decided here, for the probe below and the decoder the transcode opens.
        const TDecoderChoice choice =
            ChooseDecoder(parameters->codec_id, RealVideoFromLibrary, RealVideoLibrary().IsBound());
        decoder->thread_count = ThreadCount;
        Dictionary decoderOptions;

        switch (parameters->codec_type) {
            case AVMEDIA_TYPE_VIDEO: {
                ApplyRecordedOptions(decoder.get(), DefaultCodecContexts[mkVideo].get(),
                                     AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_DECODING_PARAM,
                                     &decoderOptions);
                FrameHeight = parameters->height;
                FrameWidth = parameters->width;
                FrameAspectRatio =
                    parameters->height > 0 && parameters->sample_aspect_ratio.den != 0
                        ? static_cast<float>(parameters->sample_aspect_ratio.num * 1.0 /
                                             parameters->sample_aspect_ratio.den *
                                             parameters->width / parameters->height)
                        : 0.0f;
                // The RealVideo bridge gives planar 4:2:0 only. The probe learns a format
                // from the library's own decoders, which a library may lack; the outputs are
                // set up from this long before the bridge opens.
                const bool bridged = choice == TDecoderChoice::RealVideoBridge;
                if (bridged ||
                    (parameters->format == AV_PIX_FMT_NONE && extension.rfind(".rmvb", 0) == 0)) {
                    parameters->format = AV_PIX_FMT_YUV420P;
                    decoder->pix_fmt = AV_PIX_FMT_YUV420P;
                }
                FramePixelFormat = parameters->format;
                FrameRate = stream->r_frame_rate;
                if (VideoDisable)
                    stream->discard = AVDISCARD_ALL;
                else if (VideoDiscard != 0)
                    stream->discard = static_cast<AVDiscard>(VideoDiscard);
                break;
            }
            case AVMEDIA_TYPE_AUDIO:
                ApplyRecordedOptions(decoder.get(), DefaultCodecContexts[mkAudio].get(),
                                     AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_DECODING_PARAM,
                                     &decoderOptions);
                AudioChannels = parameters->ch_layout.nb_channels;
                AudioSampleRate = parameters->sample_rate;
                if (AudioDisable)
                    stream->discard = AVDISCARD_ALL;
                break;
            case AVMEDIA_TYPE_SUBTITLE:
                if (SubtitleDisable)
                    stream->discard = AVDISCARD_ALL;
                break;
            default:
                break;
        }
        file.Decoders.push_back(std::move(decoder));
        file.DecoderChoices.push_back(choice);
        file.DecoderOptions.push_back(std::move(decoderOptions));
    }

    if (input->duration != AV_NOPTS_VALUE) {
        const int64_t milliseconds = input->duration / 1000;
        if (int64_t{TotalDurationMs} < milliseconds)
            TotalDurationMs = static_cast<int32_t>(std::min<int64_t>(milliseconds, INT32_MAX));
    }

    InputTimeOffsets[InputFileCount] =
        KeepTimestamps ? InputTimeOffset : InputTimeOffset - timestamp;
    file.RateEmulation = RateEmulation != 0;
    if (JobLogLevel >= 0 && DescribeOpenedInputs)
        avformat.av_dump_format(input.get(), InputFileCount, fileName.c_str(), 0);
    file.Context = std::move(input);
    InputFiles[InputFileCount] = std::move(file);
    ++InputFileCount;
    ClearPendingInputSettings();
    return true;
}

}  // namespace kelvaro
