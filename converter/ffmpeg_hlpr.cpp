#include "converter/ffmpeg_hlpr.h"

#include <algorithm>

#include "medialib/media_functions.h"

namespace kelvaro {
namespace {

// Blanks and control characters, as option text is trimmed of them.
bool IsBlankOrControl(char c)
{
    return static_cast<unsigned char>(c) <= ' ';
}

}  // namespace

TFFmpegHlpr::TFFmpegHlpr(std::mutex& codecLock) : TCustomFFmpegHlpr(codecLock) {}

TFFmpegHlpr::~TFFmpegHlpr()
{
    StopAndWait();
}

std::vector<std::pair<std::string, std::string>> SplitOptionText(const std::string& text)
{
    const auto first = std::find_if_not(text.begin(), text.end(), IsBlankOrControl);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), IsBlankOrControl).base();
    // Every line break (CR LF, a lone CR, a lone LF) becomes one LF.
    std::string rest;
    for (auto c = first; c < last; ++c) {
        if (*c == '\r') {
            rest += '\n';
            if (c + 1 < last && c[1] == '\n')
                ++c;
        } else {
            rest += *c;
        }
    }

    std::vector<std::pair<std::string, std::string>> pairs;
    size_t start = 0;
    while (start < rest.size()) {
        size_t end = rest.find('\n', start);
        if (end == std::string::npos)
            end = rest.size();
        const std::string line = rest.substr(start, end - start);
        start = end + 1;
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            pairs.emplace_back(line, std::string());
        else
            pairs.emplace_back(line.substr(0, equals), line.substr(equals + 1));
    }
    return pairs;
}

void TFFmpegHlpr::ApplyOptionText(const std::string& text)
{
    // SetOption trims both parts and ignores empty or unknown pairs; its answer is not needed.
    for (const auto& [name, value] : SplitOptionText(text))
        SetOption(name, value);
}

void TFFmpegHlpr::DescribeFirstInput()
{
    Input = TInputDescription{};
    if (InputFileCount <= 0 || !InputFiles[0].Context)
        return;
    const AVFormatContext* context = InputFiles[0].Context.get();
    if (context->url)
        Input.FileName = context->url;
    if (context->duration != AV_NOPTS_VALUE)
        Input.Duration = context->duration;
    if (context->pb) {
        const int64_t size = avformat.avio_size(context->pb);
        Input.Size = size >= 0 ? size : -1;
    }
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVCodecParameters* parameters = context->streams[i]->codecpar;
        if (parameters->codec_type == AVMEDIA_TYPE_AUDIO) {
            Input.AudioChannels = parameters->ch_layout.nb_channels;
            Input.AudioSampleRate = parameters->sample_rate;
            break;
        }
    }
}

void TFFmpegHlpr::WorkerThreadCreated(uint32_t threadId)
{
    ThreadID = threadId;
}

}  // namespace kelvaro
