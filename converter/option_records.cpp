#include "converter/option_records.h"

#include <string>

#include "converter/ffmpeg_hlpr.h"

namespace kelvaro {
namespace {

void SetPositiveOption(TFFmpegHlpr& job, const char* name, int32_t value)
{
    if (value > 0)
        job.SetOptionInt(name, value);
}

const char* NormText(int32_t norm)
{
    switch (norm) {
        case 1:
            return "pal";
        case 2:
            return "ntsc";
        case 3:
            return "film";
        default:
            return "auto";
    }
}

}  // namespace

void InitOutputOptions(TOutputOptions& options)
{
    options = TOutputOptions{};
}

void ApplyInputOptions(TFFmpegHlpr& job, const TInputOptions& options)
{
    job.ApplyOptionText(options.ExtraOptions);
    job.SetInputFormat(options.FormatName);
}

const char* TargetPresetName(int32_t target)
{
    static const char* const kTargets[] = {"vcd", "svcd", "dvd", "dv", "dv50"};
    return target >= 1 && target <= 5 ? kTargets[target - 1] : nullptr;
}

void ApplyOutputOptions(TFFmpegHlpr& job, const TOutputOptions& options,
                        const TSystemColorTable& colors)
{
    job.ApplyOptionText(options.ExtraOptions);
    job.SetOutputFormat(options.FormatName);
    SetPositiveOption(job, "packetsize", options.PacketSize);
    SetPositiveOption(job, "muxrate", options.MuxRate);
    if (options.MaxDelay > 0)
        job.SetMuxMaxDelay(options.MaxDelay);
    if (options.Preload > 0)
        job.SetMuxPreload(options.Preload);

    job.SetAudioCodec(options.AudioCodec);
    if (options.DisableAudio != 0)
        job.AudioDisable = 1;
    if (options.Volume >= 0)
        job.SetAudioVolume(options.Volume);
    if (options.AudioChannels > 0)
        job.SetAudioChannels(options.AudioChannels);
    if (options.SampleRate > 0)
        job.SetAudioSampleRate(options.SampleRate);
    SetPositiveOption(job, "ab", options.AudioBitrate);
    SetPositiveOption(job, "abt", options.AudioBitrateTolerance);
    job.AudioLanguage = options.AudioLanguage;

    job.SetVideoCodec(options.VideoCodec);
    if (options.DisableVideo != 0)
        job.VideoDisable = 1;
    // The frame size comes first: crops are checked against it.
    job.SetFrameRate(options.FrameRate);
    job.SetFrameSize(options.FrameSize);
    job.SetAspectRatio(options.AspectRatio);
    job.SetCropTop(options.CropTop);
    job.SetCropBottom(options.CropBottom);
    job.SetCropLeft(options.CropLeft);
    job.SetCropRight(options.CropRight);
    job.SetPadTop(options.PadTop);
    job.SetPadBottom(options.PadBottom);
    job.SetPadLeft(options.PadLeft);
    job.SetPadRight(options.PadRight);
    job.SetPadColor(ColorToRgb(options.PadColor, colors));
    SetPositiveOption(job, "gop", options.GopSize);
    SetPositiveOption(job, "vb", options.VideoBitrate);
    SetPositiveOption(job, "maxrate", options.MaxRate);
    SetPositiveOption(job, "minrate", options.MinRate);
    SetPositiveOption(job, "bt", options.VideoBitrateTolerance);
    SetPositiveOption(job, "bufsize", options.BufferSize);

    if (options.DisableSubtitle != 0)
        job.SubtitleDisable = 1;
    job.SubtitleLanguage = options.SubtitleLanguage;

    job.KeepTimestamps = options.CopyTimestamps != 0;
    if (options.StartTime > 0)
        job.SetStartTime(options.StartTime);
    if (options.Duration > 0)
        job.SetRecordingTime(options.Duration);
    // The engine stamps the current time for 0 and ignores negative values.
    job.SetRecordTimestamp(options.Timestamp);
    if (options.Year > 0)
        job.SetYear(options.Year);
    if (options.Track > 0)
        job.SetTrack(options.Track);
    job.SetTitle(TagText(options.Title));
    job.SetAuthor(TagText(options.Author));
    job.SetCopyright(TagText(options.Copyright));
    job.SetComment(TagText(options.Comment));
    job.SetAlbum(TagText(options.Album));
    job.SetGenre(TagText(options.Genre));
    // The output this record is for is the next one the job opens. The tags set above win.
    if (options.CopyTags != 0)
        job.AddTagCopyMap(job.OutputFileCount, 0);

    // Last, so that the preset overrides the fields and the option text.
    if (const char* target = TargetPresetName(options.Target))
        job.SetTarget(target, NormText(options.TargetNorm),
                      options.FallbackNorm == 1 ? "pal" : "ntsc");
}

}  // namespace kelvaro
