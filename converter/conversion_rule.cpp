#include "converter/conversion_rule.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "converter/system_colors.h"

namespace kelvaro {
namespace {

constexpr int32_t kWmaBitRate = 128000;
// What the wmav2 encoder accepts at most.
constexpr int32_t kWmaMaxChannels = 2;
constexpr int32_t kWmaMaxSampleRate = 48000;

// Two names of one file give one key; a file that does not exist yet keys by its own name.
std::string FileKey(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
    return error ? path : canonical.string();
}

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
    return format == TTargetFormat::Wma ? ".wma" : ".wav";
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
                                       const TInputDescription& input)
{
    TOutputOptions options;
    InitOutputOptions(options);
    options.DisableVideo = -1;
    options.CopyTags = 1;
    options.FileExt = TargetExtension(format);
    if (format == TTargetFormat::Wma) {
        options.AudioCodec = "wmav2";
        options.AudioBitrate = kWmaBitRate;
        // Beyond these the encoder refuses to open and the file could never convert.
        if (input.AudioChannels > kWmaMaxChannels)
            options.AudioChannels = kWmaMaxChannels;
        if (input.AudioSampleRate > kWmaMaxSampleRate)
            options.SampleRate = kWmaMaxSampleRate;
    } else {
        options.FormatName = "wav";
    }
    options.FileName = outputFileName;
    return options;
}

TJobSetUp ConversionSetUp(const std::string& inputFileName, TTargetFormat format,
                          const std::string& outputFileName, const std::string& extraOptions)
{
    return [=](TFFmpegHlpr& job) {
        ApplyInputOptions(job, ConversionInputOptions(inputFileName));
        if (!job.OpenInputFile(inputFileName))
            return false;
        job.DescribeFirstInput();
        TOutputOptions outputOptions = ConversionOutputOptions(format, outputFileName, job.Input);
        outputOptions.ExtraOptions = extraOptions;
        // The rule sets no colour, so the palette does not matter.
        ApplyOutputOptions(job, outputOptions, DefaultSystemColors());
        return job.OpenOutputFile(outputFileName);
    };
}

TOutputClaims::TOutputClaims(const std::vector<std::string>& inputs)
{
    for (const std::string& input : inputs)
        AddInput(input);
}

void TOutputClaims::AddInput(const std::string& input)
{
    inputs_.emplace(FileKey(input), input);
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
