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
    bool audioFound = false;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* stream = context->streams[i];
        const AVCodecParameters* parameters = stream->codecpar;
        if (parameters->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            Input.HasVideo = true;
        if (parameters->codec_type == AVMEDIA_TYPE_AUDIO && !audioFound) {
            audioFound = true;
            Input.AudioChannels = parameters->ch_layout.nb_channels;
            Input.AudioSampleRate = parameters->sample_rate;
            // PCM says its size only as coded; the codec ids of PCM come before ADPCM's.
            const bool pcm = parameters->codec_id >= AV_CODEC_ID_PCM_S16LE &&
                             parameters->codec_id < AV_CODEC_ID_ADPCM_IMA_QT;
            Input.AudioBits = parameters->bits_per_raw_sample > 0 ? parameters->bits_per_raw_sample
                              : pcm ? parameters->bits_per_coded_sample
                                    : 0;
        }
    }
}

void TFFmpegHlpr::WorkerThreadCreated(uint32_t threadId)
{
    ThreadID = threadId;
}

void TFFmpegHlpr::AddSetUpStep(TJobSetUp step, int32_t inputs, int32_t outputs)
{
    setUpSteps_.push_back(std::move(step));
    inputsToRun_ += inputs;
    outputsToRun_ += outputs;
}

bool TFFmpegHlpr::RunSetUpSteps()
{
    SetRealVideoDecoder(UseLibraryRealVideoDecoders);
    // A job set up by AddInputFile described its input then; once is enough.
    DescribeOpenedInputs = MadeAtStart;
    bool opened = true;
    for (const TJobSetUp& step : setUpSteps_) {
        try {
            opened = step(*this);
        } catch (...) {
            DescribeOpenedInputs = true;
            throw;
        }
        if (!opened)
            break;
    }
    DescribeOpenedInputs = true;
    if (!opened && LastError.empty())
        LastError = "The file could not be opened";
    return opened;
}

bool TFFmpegHlpr::ReopenFiles()
{
    const int level = JobLogLevel;
    Reset();
    SetLogLevel(level);
    try {
        return RunSetUpSteps();
    } catch (const std::exception& error) {
        LastError = error.what();
        return false;
    }
}

void TFFmpegHlpr::OpenFilesToRun()
{
    FailedToOpen = false;
    if (setUpSteps_.empty())
        return;  // opened directly, and still open
    // The stop request, report interval and handlers of this run stay.
    const int level = JobLogLevel;
    ReloadDefaults();
    JobLogLevel = level;
    bool opened = false;
    try {
        opened = RunSetUpSteps();
    } catch (...) {
        FailedToOpen = true;
        throw;
    }
    if (!opened) {
        FailedToOpen = true;
        throw FFMpegException(LastError);
    }
}

int32_t TFFmpegHlpr::OutputsToRun() const
{
    return setUpSteps_.empty() ? OutputFileCount : outputsToRun_;
}

int32_t TFFmpegHlpr::InputsToRun() const
{
    return setUpSteps_.empty() ? InputFileCount : inputsToRun_;
}

}  // namespace kelvaro
