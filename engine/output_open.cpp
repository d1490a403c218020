// Creating an output: its container format, the kinds of stream it gets, the metadata, and
// the file opened for writing.

#include <sys/stat.h>

#include <cstring>
#include <ctime>
#include <filesystem>

#include "engine/job.h"
#include "engine/media_error.h"
#include "engine/text_format.h"
#include "medialib/media_functions.h"

namespace kelvaro {
namespace {

bool IsSameFile(const std::string& a, const std::string& b)
{
    std::error_code error;
    return std::filesystem::equivalent(a, b, error) && !error;
}

void SetMetadata(AVDictionary** metadata, const char* key, const std::string& value,
                 size_t maxLength)
{
    if (!value.empty())
        avutil.av_dict_set(metadata, key, value.substr(0, maxLength).c_str(), 0);
}

std::string IsoTime(int64_t secondsSince1970)
{
    const std::time_t time = static_cast<std::time_t>(secondsSince1970);
    std::tm utc{};
    gmtime_r(&time, &utc);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000Z", &utc);
    return text;
}

// Every output name is a path of ours, whatever it holds ("pipe:1", "md5:x", "tcp:..."):
// it reaches the library behind the file protocol, and only that protocol may open it.
std::string LocalUrl(const std::string& path)
{
    return "file:" + path;
}

bool OpenOutputBytes(TOutputFile& output, const std::string& fileName,
                     const AVIOInterruptCB& interrupt, std::string& reason)
{
    AVFormatContext* context = output.Context.get();
    // Pipes, sockets and devices are never written: no option names them.
    struct stat existing {};
    if (stat(fileName.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode) &&
        !S_ISDIR(existing.st_mode)) {
        reason = "not a regular file (a FIFO, socket or device)";
        return false;
    }
    output.Temporary = TTemporaryOutput::Create(fileName, reason);
    if (!output.Temporary)
        return false;
    const std::string url = LocalUrl(output.Temporary->TemporaryName());
    Dictionary options;
    avutil.av_dict_set(options.Address(), "protocol_whitelist", "file", 0);
    const int result = avformat.avio_open2(&context->pb, url.c_str(), AVIO_FLAG_WRITE, &interrupt,
                                           options.Address());
    if (result < 0) {
        reason = ErrorReason(result);
        output.Temporary.reset();
        return false;
    }
    return true;
}

}  // namespace

int TCustomFFmpegHlpr::StopWasRequestedLongAgo(void* opaque)
{
    constexpr int64_t kTrailerGrace = 500000;  // microseconds
    TCustomFFmpegHlpr& job = *static_cast<TCustomFFmpegHlpr*>(opaque);
    if (!job.StopRequested)
        return 0;
    const int64_t now = avutil.av_gettime_relative();
    if (job.OutputStopSeenAt == 0)
        job.OutputStopSeenAt = now;
    return now - job.OutputStopSeenAt > kTrailerGrace ? 1 : 0;
}

TCustomFFmpegHlpr::TStreamKinds TCustomFFmpegHlpr::CheckInputStreamKinds() const
{
    TStreamKinds kinds;
    for (int file = 0; file < InputFileCount; ++file) {
        const AVFormatContext* input = InputFiles[file].Context.get();
        for (unsigned i = 0; i < input->nb_streams; ++i) {
            switch (input->streams[i]->codecpar->codec_type) {
                case AVMEDIA_TYPE_VIDEO:
                    kinds.Video = true;
                    break;
                case AVMEDIA_TYPE_AUDIO:
                    kinds.Audio = true;
                    break;
                case AVMEDIA_TYPE_SUBTITLE:
                    kinds.Subtitle = true;
                    break;
                case AVMEDIA_TYPE_UNKNOWN:
                case AVMEDIA_TYPE_DATA:
                case AVMEDIA_TYPE_ATTACHMENT:
                    break;
                default:
                    throw FFMpegException("invalid codec_type of input file");
            }
        }
    }
    return kinds;
}

bool TCustomFFmpegHlpr::OpenOutputFile(const std::string& fileName)
{
    auto fail = [this](const std::string& reason) {
        LastError = reason;
        ForcedOutputFormat = nullptr;
        ForcedInputFormat = nullptr;
        return false;
    };
    if (OutputFileCount >= kMaxFiles)
        return fail(Format("%s: too many output files (at most %d)", fileName.c_str(), kMaxFiles));
    // Writing over an input would destroy it before it has been read.
    for (int i = 0; i < InputFileCount; ++i)
        if (IsSameFile(fileName, InputFiles[i].Context->url))
            return fail(Format("Output file is the same as input file: %s", fileName.c_str()));

    if (!ForcedOutputFormat)
        ForcedOutputFormat = avformat.av_guess_format(nullptr, fileName.c_str(), nullptr);
    AVFormatContext* context = nullptr;
    if (!ForcedOutputFormat || avformat.avformat_alloc_output_context2(
                                   &context, ForcedOutputFormat, nullptr, fileName.c_str()) < 0)
        return fail(Format("Unable to find a suitable output format for '%s'", fileName.c_str()));
    TOutputFile output;
    output.Context.reset(context);
    // A muxer that opens files of its own (segments, playlists) opens local files only.
    avutil.av_opt_set(context, "protocol_whitelist", "file", 0);
    const AVOutputFormat* format = context->oformat;

    TStreamKinds wanted;
    wanted.Video = format->video_codec != AV_CODEC_ID_NONE || VideoCopy || !VideoCodecName.empty();
    wanted.Audio = format->audio_codec != AV_CODEC_ID_NONE || AudioCopy || !AudioCodecName.empty();
    wanted.Subtitle =
        format->subtitle_codec != AV_CODEC_ID_NONE || SubtitleCopy || !SubtitleCodecName.empty();
    if (InputFileCount > 0) {
        TStreamKinds present;
        try {
            present = CheckInputStreamKinds();
        } catch (const FFMpegException& error) {
            return fail(Format("check_audio_video_sub_inputs fail: %s", error.what()));
        }
        wanted.Video = wanted.Video && present.Video;
        wanted.Audio = wanted.Audio && present.Audio;
        wanted.Subtitle = wanted.Subtitle && present.Subtitle;
    }
    if (AudioDisable)
        wanted.Audio = false;
    if (VideoDisable)
        wanted.Video = false;
    if (SubtitleDisable)
        wanted.Subtitle = false;

    const char* stage = "";
    try {
        stage = "new_video_stream fail: %s";
        if (wanted.Video)
            AddVideoStream(output);
        stage = "new_audio_stream fail: %s";
        if (wanted.Audio)
            AddAudioStream(output);
        stage = "new_subtitle_stream fail: %s";
        if (wanted.Subtitle)
            AddSubtitleStream(output);
    } catch (const FFMpegException& error) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        return fail(Format(stage, error.what()));
#pragma GCC diagnostic pop
    }
    // A disabled kind is consumed by this output like the created streams' settings.
    VideoDisable = AudioDisable = SubtitleDisable = 0;

    AVDictionary** metadata = &context->metadata;
    SetMetadata(metadata, "title", Title, 511);
    SetMetadata(metadata, "artist", Author, 511);
    SetMetadata(metadata, "copyright", Copyright, 511);
    SetMetadata(metadata, "comment", Comment, 511);
    SetMetadata(metadata, "album", Album, 511);
    if (Year > 0) {
        SetMetadata(metadata, "date", std::to_string(Year), 31);
        SetMetadata(metadata, "year", std::to_string(Year), 31);
    }
    if (Track > 0)
        SetMetadata(metadata, "track", std::to_string(Track), 31);
    SetMetadata(metadata, "genre", Genre, 31);
    if (RecordTimestamp > 0)
        SetMetadata(metadata, "creation_time", IsoTime(RecordTimestamp), 64);

    if ((format->flags & AVFMT_NEEDNUMBER) &&
        avformat.av_filename_number_test(fileName.c_str()) == 0)
        return fail(MediaErrorText(fileName, -33));
    // A stop ends a write that waits.
    const AVIOInterruptCB interrupt{&TCustomFFmpegHlpr::StopWasRequestedLongAgo, this};
    if (!(format->flags & AVFMT_NOFILE)) {
        std::string reason;
        if (!OpenOutputBytes(output, fileName, interrupt, reason))
            return fail(Format("Could not open '%s': %s", fileName.c_str(), reason.c_str()));
    }
    context->interrupt_callback = interrupt;

    context->max_delay = static_cast<int>(MuxMaxDelay * 1000000);
    // Preload and loop count are private options of the muxers that know them.
    AVDictionary** muxerOptions = output.MuxerOptions.Address();
    avutil.av_dict_set(muxerOptions, "preload",
                       std::to_string(static_cast<int>(MuxPreload * 1000000)).c_str(), 0);
    avutil.av_dict_set(muxerOptions, "loop", std::to_string(LoopOutput).c_str(), 0);
    // RIFF sizes end at 4 GiB: a WAV output becomes RF64 only when it grows past them.
    avutil.av_dict_set(muxerOptions, "rf64", "auto", 0);
    // The DV muxer builds each frame from the audio that came before the next picture, and
    // fails when some of it is late: audio timed by the input's clock may fall short of the
    // picture clock by a few samples (or more, where the input's audio has gaps).
    if (std::strcmp(context->oformat->name, "dv") == 0)
        context->audio_preload = static_cast<int>(MuxPreload * 1000000);
    ApplyRecordedOptions(context, DefaultFormatContext.get(), AV_OPT_FLAG_ENCODING_PARAM,
                         &output.MuxerOptions);

    OutputFiles[OutputFileCount] = std::move(output);
    ++OutputFileCount;
    ForcedOutputFormat = nullptr;
    ForcedInputFormat = nullptr;
    return true;
}

}  // namespace kelvaro
