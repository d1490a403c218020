#include "converter/conversion_rule.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "converter/name_case.h"
#include "converter/system_colors.h"
#include "engine/encoder_check.h"
#include "engine/target_presets.h"
#include "engine/text_format.h"
#include "medialib/media_functions.h"
#include "medialib/media_owners.h"

namespace kelvaro {
namespace {

constexpr char kWmaEncoder[] = "wmav2";

std::string LowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

std::string FileNamePart(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string TargetExtension(TTargetFormat format)
{
    return FormatInfo(format).Extension;
}

std::string OutputExtension(TTargetFormat format, const TConversionSettings& settings)
{
    switch (settings.Target) {
        case TVideoTarget::None:
            break;
        case TVideoTarget::Vcd:
        case TVideoTarget::Svcd:
        case TVideoTarget::Dvd:
            return ".mpg";
        case TVideoTarget::Dv:
        case TVideoTarget::Dv50:
            return ".dv";
    }
    return TargetExtension(format);
}

std::string FolderWithSeparator(const std::string& folder)
{
    if (folder.empty() || folder.back() == '/')
        return folder;
    return folder + '/';
}

std::string OutputFileName(const std::string& folder, const std::string& inputFileName,
                           const std::string& extension)
{
    std::string name = FileNamePart(inputFileName);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos)
        name.erase(dot);
    // An input named only by its extension (".wav") would give a hidden output.
    if (name.empty())
        name = "_";
    return folder + name + extension;
}

TInputOptions ConversionInputOptions(const std::string& inputFileName)
{
    TInputOptions options;
    options.FileName = inputFileName;
    const std::string name = FileNamePart(inputFileName);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && LowerCase(name.substr(dot)) == ".dat")
        options.FormatName = "mpeg";
    return options;
}

TOutputOptions ConversionOutputOptions(TTargetFormat format, const std::string& outputFileName,
                                       const TInputDescription& input,
                                       const TConversionSettings& settings)
{
    TOutputOptions options;
    InitOutputOptions(options);
    options.CopyTags = 1;
    options.FileName = outputFileName;
    if (settings.Target != TVideoTarget::None) {
        // The record's numbering: 1 video CD ... 5 DV50; norms 0 guessed, 1 PAL, 2 NTSC, 3 film.
        options.Target = static_cast<int32_t>(settings.Target);
        options.TargetNorm = static_cast<int32_t>(settings.Norm);
        // Without pictures there is no frame rate to guess the norm from: the usual one.
        if (settings.Norm == TTargetNorm::Guess && !input.HasVideo)
            options.TargetNorm = static_cast<int32_t>(TTargetNorm::Pal);
        options.FileExt = OutputExtension(format, settings);
        return options;
    }
    options.DisableVideo = -1;
    options.FileExt = TargetExtension(format);
    const TFormatInfo& info = FormatInfo(format);
    if (format == TTargetFormat::Wma) {
        options.AudioCodec = kWmaEncoder;
    } else if (format == TTargetFormat::Wav) {
        options.FormatName = "wav";
        if (settings.Bits == 24)
            options.AudioCodec = "pcm_s24le";
    } else {
        options.FormatName = info.Muxer;
        options.AudioCodec = info.Encoder;
    }
    if (info.Quality == TQualityKind::BitRate ||
        (settings.BitRate > 0 && info.BitRateRange.High > 0))
        options.AudioBitrate = settings.BitRate > 0
                                   ? settings.BitRate
                                   : static_cast<int32_t>(info.BitRateRange.Default);
    // Beyond these the encoder refuses to open and the file could never convert.
    if (info.MaxChannels > 0 && input.AudioChannels > info.MaxChannels)
        options.AudioChannels = info.MaxChannels;
    if (const int32_t rate = FormatSampleRate(info, input.AudioSampleRate);
        rate != input.AudioSampleRate)
        options.SampleRate = rate;
    if (settings.Channels > 0)
        options.AudioChannels = settings.Channels;
    if (settings.SampleRate > 0)
        options.SampleRate = settings.SampleRate;
    return options;
}

namespace {

// What the output record has no field for.
void ApplyFormatChoices(TFFmpegHlpr& job, TTargetFormat format, const TInputDescription& input,
                        const TConversionSettings& settings)
{
    if (settings.Target != TVideoTarget::None)
        return;
    const TFormatInfo& info = FormatInfo(format);
    if (info.Quality == TQualityKind::Vbr && settings.BitRate <= 0)
        job.SetAudioQuality(
            static_cast<float>(settings.Quality.value_or(info.QualityRange.Default)));
    if (info.Quality == TQualityKind::Compression)
        job.SetOptionInt("compression_level",
                         settings.Compression >= 0
                             ? settings.Compression
                             : static_cast<int32_t>(info.QualityRange.Default));
    // The edit list that trims the encoder's delay and padding counts in the movie's time
    // scale, by default a thousandth of a second: at the output's rate it is exact.
    if (format == TTargetFormat::Aac || format == TTargetFormat::Alac) {
        const int32_t rate = settings.SampleRate > 0
                                 ? settings.SampleRate
                                 : FormatSampleRate(info, input.AudioSampleRate);
        if (rate > 0)
            job.SetOptionInt("movie_timescale", rate);
    }
    // WAV keeps its 16 bits unless asked (its 24 bits are a codec of their own); the
    // lossless formats keep what the source has.
    if (info.TakesBits && format != TTargetFormat::Wav)
        job.SetAudioSampleBits(settings.Bits > 0 ? settings.Bits : input.AudioBits > 16 ? 24 : 16);
}

// Why the format's encoder would not write the chosen bit rate for this output; empty when
// it would, or when no bit rate was chosen (the defaults are what every rate takes).
std::string BitRateProblem(TTargetFormat format, const TOutputOptions& options,
                           const TInputDescription& input, const TConversionSettings& settings,
                           std::mutex& codecLock)
{
    const TFormatInfo& info = FormatInfo(format);
    if (settings.BitRate <= 0 || settings.Target != TVideoTarget::None || *info.Encoder == '\0')
        return {};
    const int32_t rate = options.SampleRate > 0 ? options.SampleRate : input.AudioSampleRate;
    const int32_t channels =
        options.AudioChannels > 0 ? options.AudioChannels : input.AudioChannels;
    return EncoderBitRateProblem(info.Encoder, info.Label, options.AudioBitrate, rate, channels,
                                 codecLock);
}

}  // namespace

TJobSetUp ConversionSetUp(const std::string& inputFileName, TTargetFormat format,
                          const std::string& outputFileName, const std::string& extraOptions,
                          const TConversionSettings& settings, const std::string& outputRoot)
{
    return [=](TFFmpegHlpr& job) {
        ApplyInputOptions(job, ConversionInputOptions(inputFileName));
        if (!job.OpenInputFile(inputFileName))
            return false;
        job.DescribeFirstInput();
        TOutputOptions outputOptions =
            ConversionOutputOptions(format, outputFileName, job.Input, settings);
        outputOptions.ExtraOptions = extraOptions;
        job.LastError = BitRateProblem(format, outputOptions, job.Input, settings, *job.CodecLock);
        if (!job.LastError.empty())
            return false;
        // The rule sets no colour, so the palette does not matter.
        ApplyOutputOptions(job, outputOptions, DefaultSystemColors());
        ApplyFormatChoices(job, format, job.Input, settings);
        // An output that keeps its input's place below the output root may need its own
        // folder; a root that is gone is not made again (the output's open then fails).
        const std::filesystem::path folder = std::filesystem::path(outputFileName).parent_path();
        std::error_code error;
        if (!outputRoot.empty() && std::filesystem::is_directory(outputRoot) && !folder.empty() &&
            !std::filesystem::is_directory(folder) &&
            !std::filesystem::create_directories(folder, error) && error) {
            job.LastError = "cannot create the folder " + folder.string() + ": " + error.message();
            return false;
        }
        return job.OpenOutputFile(outputFileName);
    };
}

namespace {

// Where the value of `name` on `object` (or its private part) is taken: Taken, BadValue,
// or NotTaken when no option of that name with `flags` exists.
TOptionUse SetOnScratch(void* object, const std::string& name, const std::string& value, int flags)
{
    if (!object)
        return TOptionUse::NotTaken;
    const AVOption* option =
        avutil.av_opt_find(object, name.c_str(), nullptr, 0, AV_OPT_SEARCH_CHILDREN);
    if (!option || option->type == AV_OPT_TYPE_CONST || (option->flags & flags) != flags)
        return TOptionUse::NotTaken;
    return avutil.av_opt_set(object, name.c_str(), value.c_str(), AV_OPT_SEARCH_CHILDREN) < 0
               ? TOptionUse::BadValue
               : TOptionUse::Taken;
}

}  // namespace

TOptionUse ConversionOptionUse(TTargetFormat format, const TConversionSettings& settings,
                               const std::string& givenName, const std::string& givenValue)
{
    const std::string name = Trimmed(givenName);
    const std::string value = Trimmed(givenValue);
    // The rule sets these after the option text, or the engine from the input.
    if (name == "b" || name == "ab")
        return TOptionUse::BitRateFixed;
    if (name == "ar")
        return TOptionUse::SampleRateFixed;
    if (name == "ac" || name == "ch_layout" || name == "channel_layout")
        return TOptionUse::ChannelsFixed;
    if (name == "sample_fmt")
        return TOptionUse::SampleFormatFixed;

    // Where the rest may land: the encoders of the output, then its muxer.
    std::vector<std::string> encoders;
    std::string muxer;
    if (settings.Target == TVideoTarget::None) {
        encoders = {format != TTargetFormat::Wav ? FormatInfo(format).Encoder
                    : settings.Bits == 24        ? "pcm_s24le"
                                                 : "pcm_s16le"};
    } else if (const std::optional<TTargetParts> parts =
                   TargetParts(TargetPresetName(static_cast<int32_t>(settings.Target)))) {
        encoders = {parts->VideoEncoder, parts->AudioEncoder};
        muxer = parts->Muxer;
    }
    for (const std::string& encoderName : encoders) {
        const AVCodec* codec = avcodec.avcodec_find_encoder_by_name(encoderName.c_str());
        CodecContextPtr encoder(codec ? avcodec.avcodec_alloc_context3(codec) : nullptr);
        const int kind = codec && codec->type == AVMEDIA_TYPE_VIDEO ? AV_OPT_FLAG_VIDEO_PARAM
                                                                    : AV_OPT_FLAG_AUDIO_PARAM;
        const int encoding = kind | AV_OPT_FLAG_ENCODING_PARAM;
        TOptionUse use = SetOnScratch(encoder.get(), name, value, encoding);
        // The engine also takes "a" or "v" + a codec option's name.
        const char prefix = kind == AV_OPT_FLAG_VIDEO_PARAM ? 'v' : 'a';
        if (use == TOptionUse::NotTaken && name.size() > 1 && name[0] == prefix)
            use = SetOnScratch(encoder.get(), name.substr(1), value, encoding);
        if (use != TOptionUse::NotTaken)
            return use;
    }

    AVFormatContext* made = nullptr;
    if (muxer.empty())
        avformat.avformat_alloc_output_context2(&made, nullptr, nullptr,
                                                ("output" + TargetExtension(format)).c_str());
    else
        avformat.avformat_alloc_output_context2(&made, nullptr, muxer.c_str(), "output");
    const OutputContextPtr scratch(made);
    return SetOnScratch(scratch.get(), name, value, AV_OPT_FLAG_ENCODING_PARAM);
}

TOutputClaims::TOutputClaims(TFolderCaseQuery ignoresCase) : ignoresCase_(std::move(ignoresCase))
{
}

TOutputClaims::TOutputClaims(const std::vector<std::string>& inputs)
{
    for (const std::string& input : inputs)
        AddInput(input);
}

// Two names of one file give one key; a file that does not exist yet keys by its own name,
// in one case where its folder's file system ignores case.
std::string TOutputClaims::FileKey(const std::string& path) const
{
    std::error_code error;
    std::filesystem::path key = std::filesystem::weakly_canonical(path, error);
    if (error)
        key = path;
    const std::string folder = key.parent_path().string();
    auto known = folderIgnoresCase_.find(folder);
    if (known == folderIgnoresCase_.end())
        known = folderIgnoresCase_.emplace(folder, ignoresCase_(folder)).first;
    return known->second ? (key.parent_path() / LowerCase(key.filename().string())).string()
                         : key.string();
}

std::string TOutputClaims::AddInput(const std::string& input)
{
    const std::string key = FileKey(input);
    if (const auto writer = writers_.find(key); writer != writers_.end())
        return input + " is the output of " + writer->second + " in this batch";
    inputs_.emplace(key, input);
    return {};
}

bool TOutputClaims::IsClaimedOutput(const std::string& file) const
{
    return writers_.count(FileKey(file)) > 0;
}

std::string TOutputClaims::Claim(const std::string& input, const std::string& output)
{
    const std::string outputKey = FileKey(output);
    if (const auto writer = writers_.find(outputKey); writer != writers_.end())
        return output + " is already the output of " + writer->second;
    // Writing over its own input is left to the engine, which refuses it with its own words.
    if (const auto other = inputs_.find(outputKey);
        other != inputs_.end() && outputKey != FileKey(input))
        return output + " would overwrite the input " + other->second;
    writers_.emplace(outputKey, input);
    return {};
}

}  // namespace kelvaro
