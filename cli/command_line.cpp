#include "cli/command_line.h"

#include <getopt.h>

#include <algorithm>
#include <charconv>
#include <limits>
#include <thread>

namespace kelvaro::cli {
namespace {

// Worker threads beyond this only queue for the same cores.
constexpr int kMaxJobs = 256;
constexpr int32_t kMaxSampleRate = 768000;
constexpr int32_t kMinWmaSampleRate = 8000;
constexpr int32_t kMaxChannels = 64;

// Values of the long options that have no short form.
enum : int {
    kBitRate = 256,
    kRate,
    kChannels,
    kBits,
    kOption,
    kLogLevel,
    kKeepPartial,
    kKeepStructure,
    kFilesFrom,
    kSkipExisting,
    kSummary,
    kReport,
    kTarget,
    kNorm,
    kQuality,
    kCompression,
};

const option kOptions[] = {
    {"format", required_argument, nullptr, 'f'},
    {"output", required_argument, nullptr, 'o'},
    {"jobs", required_argument, nullptr, 'j'},
    {"quiet", no_argument, nullptr, 'q'},
    {"recursive", no_argument, nullptr, 'r'},
    {"null", no_argument, nullptr, '0'},
    {"version", no_argument, nullptr, 'V'},
    {"help", no_argument, nullptr, 'h'},
    {"bitrate", required_argument, nullptr, kBitRate},
    {"rate", required_argument, nullptr, kRate},
    {"channels", required_argument, nullptr, kChannels},
    {"bits", required_argument, nullptr, kBits},
    {"option", required_argument, nullptr, kOption},
    {"log-level", required_argument, nullptr, kLogLevel},
    {"keep-partial", no_argument, nullptr, kKeepPartial},
    {"keep-structure", no_argument, nullptr, kKeepStructure},
    {"files-from", required_argument, nullptr, kFilesFrom},
    {"skip-existing", no_argument, nullptr, kSkipExisting},
    {"summary", required_argument, nullptr, kSummary},
    {"report", required_argument, nullptr, kReport},
    {"target", required_argument, nullptr, kTarget},
    {"norm", required_argument, nullptr, kNorm},
    {"quality", required_argument, nullptr, kQuality},
    {"compression", required_argument, nullptr, kCompression},
    {nullptr, 0, nullptr, 0},
};
// A leading ':' makes a missing value answer ':' rather than '?'.
constexpr char kShortOptions[] = ":f:o:j:qr0Vh";

// "--format" for the option whose value is `value`.
std::string LongName(int value)
{
    for (const option& entry : kOptions)
        if (entry.name && entry.val == value)
            return std::string("--") + entry.name;
    return std::string("-") + static_cast<char>(value);
}

// A whole decimal number within [low, high], or nothing.
bool ParseNumber(const std::string& text, int64_t low, int64_t high, int64_t& number)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc() && end == text.data() + text.size() && number >= low &&
           number <= high;
}

int32_t ParseInRange(const std::string& name, const std::string& text, int64_t low, int64_t high,
                     const std::string& what)
{
    int64_t number = 0;
    if (!ParseNumber(text, low, high, number))
        throw TUsageError(name + " takes " + what + " from " + std::to_string(low) + " to " +
                          std::to_string(high) + ", not '" + text + "'");
    return static_cast<int32_t>(number);
}

TTargetFormat ParseFormat(const std::string& text)
{
    if (const std::optional<TTargetFormat> format = FindTargetFormat(text))
        return *format;
    throw TUsageError("unknown format '" + text + "' (" + FormatNameList() + ")");
}

// A decimal number such as 2, 4.5 or -1; the format decides its range.
double ParseQuality(const std::string& text)
{
    double number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        throw TUsageError("--quality takes a number, such as 2 or 4.5, not '" + text + "'");
    return number;
}

TVideoTarget ParseTarget(const std::string& text)
{
    static const std::pair<const char*, TVideoTarget> kTargets[] = {
        {"vcd", TVideoTarget::Vcd}, {"svcd", TVideoTarget::Svcd}, {"dvd", TVideoTarget::Dvd},
        {"dv", TVideoTarget::Dv},   {"dv50", TVideoTarget::Dv50}};
    for (const auto& [name, target] : kTargets)
        if (text == name)
            return target;
    throw TUsageError("unknown target '" + text + "' (vcd, svcd, dvd, dv or dv50)");
}

TTargetNorm ParseNorm(const std::string& text)
{
    if (text == "pal")
        return TTargetNorm::Pal;
    if (text == "ntsc")
        return TTargetNorm::Ntsc;
    if (text == "film")
        return TTargetNorm::Film;
    throw TUsageError("unknown norm '" + text + "' (pal, ntsc or film)");
}

// "192000", "192k" or "192K"; the format decides its range.
int32_t ParseBitRate(const std::string& text)
{
    std::string digits = text;
    int64_t scale = 1;
    if (!digits.empty() && (digits.back() == 'k' || digits.back() == 'K')) {
        digits.pop_back();
        scale = 1000;
    }
    int64_t number = 0;
    const int64_t high = std::numeric_limits<int32_t>::max();
    if (!ParseNumber(digits, 1, high / scale, number))
        throw TUsageError("--bitrate takes bits per second, such as 192000 or 192k, not '" + text +
                          "'");
    return static_cast<int32_t>(number * scale);
}

TMessageLevel ParseLogLevel(const std::string& text)
{
    static const std::pair<const char*, TMessageLevel> kLevels[] = {
        {"quiet", TMessageLevel::Quiet},     {"error", TMessageLevel::Error},
        {"warning", TMessageLevel::Warning}, {"info", TMessageLevel::Info},
        {"debug", TMessageLevel::Debug},     {"all", TMessageLevel::All}};
    for (const auto& [name, level] : kLevels)
        if (text == name)
            return level;
    throw TUsageError("unknown log level '" + text +
                      "' (quiet, error, warning, info, debug or all)");
}

TSummaryScope ParseSummary(const std::string& text)
{
    if (text == "short")
        return TSummaryScope::Problems;
    if (text == "full")
        return TSummaryScope::Full;
    throw TUsageError("--summary takes short or full, not '" + text + "'");
}

std::string ParseOption(const std::string& text)
{
    const size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0)
        throw TUsageError("--option takes NAME=VALUE, not '" + text + "'");
    // A line break would smuggle in a second option.
    if (text.find_first_of("\r\n") != std::string::npos)
        throw TUsageError("--option values cannot hold line breaks");
    return text;
}

std::string NonEmpty(const std::string& name, const char* text, const char* what)
{
    if (!text || !*text)
        throw TUsageError(name + " needs " + what);
    return text;
}

void CheckFiles(const TCommandLine& command)
{
    if (command.NulSeparated && command.FilesFrom.empty())
        throw TUsageError("--null applies to the list of --files-from");
    if (command.Files.empty() && command.FilesFrom.empty())
        throw TUsageError("no files to convert");
}

// "WMA, MP3, AAC and Opus": the labels of the formats that have `what`.
std::string LabelsWith(bool (*has)(const TFormatInfo&))
{
    std::vector<std::string> labels;
    for (const TFormatInfo& format : TargetFormats())
        if (has(format))
            labels.emplace_back(format.Label);
    return ListText(labels, "and");
}

bool TakesBitRate(const TFormatInfo& format)
{
    return format.BitRateRange.High > 0;
}
bool TakesQuality(const TFormatInfo& format)
{
    return format.Quality == TQualityKind::Vbr;
}
bool TakesBits(const TFormatInfo& format)
{
    return format.TakesBits;
}

// 2, 4.5, -1: no trailing zeros.
std::string NumberText(double value)
{
    std::string text = std::to_string(value);
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.')
        text.pop_back();
    return text;
}

std::string RangeText(const TFormatRange& range)
{
    return NumberText(range.Low) + " to " + NumberText(range.High);
}

void CheckRate(const TFormatInfo& format, int32_t rate)
{
    if (rate <= 0)
        return;
    const std::string label = format.Label;
    if (format.Format == TTargetFormat::Wma &&
        (rate < kMinWmaSampleRate || rate > kWmaMaxSampleRate))
        throw TUsageError("WMA takes a --rate from " + std::to_string(kMinWmaSampleRate) + " to " +
                          std::to_string(kWmaMaxSampleRate) + " Hz, not " + std::to_string(rate));
    const std::span<const int32_t> rates = format.SampleRates;
    if (!rates.empty() && std::find(rates.begin(), rates.end(), rate) == rates.end()) {
        std::vector<std::string> list;
        for (const int32_t each : rates)
            list.push_back(std::to_string(each));
        throw TUsageError(label + " takes a --rate of " + ListText(list, "or") + " Hz, not " +
                          std::to_string(rate));
    }
    if (format.MaxSampleRate > 0 && rate > format.MaxSampleRate)
        throw TUsageError(label + " takes a --rate up to " + std::to_string(format.MaxSampleRate) +
                          " Hz, not " + std::to_string(rate));
}

// The audio format's own bounds on the encoding settings.
void CheckFormatSettings(TTargetFormat chosen, const TConversionSettings& settings)
{
    const TFormatInfo& format = FormatInfo(chosen);
    const std::string label = format.Label;
    if (settings.BitRate > 0 && !TakesBitRate(format))
        throw TUsageError(
            "--bitrate applies to " + LabelsWith(TakesBitRate) + "; " +
            (TakesQuality(format)
                 ? label + " takes a --quality"
                 : "a " + label + " file's bit rate follows its rate, channels and bits"));
    if (settings.BitRate > 0 && chosen == TTargetFormat::Wma &&
        settings.BitRate < format.BitRateRange.Low)
        throw TUsageError("--bitrate takes bits per second from " + std::to_string(kWmaMinBitRate) +
                          " (or " + std::to_string(kWmaMinBitRate / 1000) +
                          "k, the WMA encoder's least), not '" + std::to_string(settings.BitRate) +
                          "'");
    if (settings.BitRate > 0 &&
        (settings.BitRate < format.BitRateRange.Low || settings.BitRate > format.BitRateRange.High))
        throw TUsageError(label + " takes a --bitrate from " + RangeText(format.BitRateRange) +
                          " bit/s, not " + std::to_string(settings.BitRate));
    if (settings.Quality && !TakesQuality(format))
        throw TUsageError("--quality applies to " + LabelsWith(TakesQuality) + "; " + label +
                          (TakesBitRate(format) ? " takes a --bitrate"
                           : format.Quality == TQualityKind::Compression
                               ? " takes a --compression"
                               : " keeps its samples as they are"));
    if (settings.Quality && settings.BitRate > 0)
        throw TUsageError("--quality and --bitrate exclude each other: " + label +
                          " is either of variable (--quality) or of constant (--bitrate) bit rate");
    if (settings.Quality && (*settings.Quality < format.QualityRange.Low ||
                             *settings.Quality > format.QualityRange.High))
        throw TUsageError(label + " takes a --quality from " + RangeText(format.QualityRange) +
                          (format.QualityLowIsBest ? " (0 best)" : " (10 best)") + ", not " +
                          NumberText(*settings.Quality));
    if (settings.Compression >= 0 && format.Quality != TQualityKind::Compression)
        throw TUsageError("--compression applies to FLAC");
    if (settings.Compression >= 0 && (settings.Compression < format.QualityRange.Low ||
                                      settings.Compression > format.QualityRange.High))
        throw TUsageError("FLAC takes a --compression from " + RangeText(format.QualityRange) +
                          ", not " + std::to_string(settings.Compression));
    if (settings.Bits > 0 && !format.TakesBits)
        throw TUsageError("--bits applies to " + LabelsWith(TakesBits) + "; " + label +
                          " has no fixed sample size");
    CheckRate(format, settings.SampleRate);
    if (format.MaxChannels > 0 && settings.Channels > format.MaxChannels)
        throw TUsageError(label + " takes at most " + std::to_string(format.MaxChannels) +
                          " --channels, not " + std::to_string(settings.Channels));
}

// What only makes sense together, once every option is known.
void CheckCombination(const TCommandLine& command)
{
    const TConversionSettings& settings = command.Settings;
    if (settings.Target == TVideoTarget::None && settings.Norm != TTargetNorm::Guess)
        throw TUsageError("--norm applies to a --target");
    if (settings.Target != TVideoTarget::None) {
        if (command.FormatGiven)
            throw TUsageError("--format names an audio format; --target replaces it");
        if (settings.BitRate > 0 || settings.SampleRate > 0 || settings.Channels > 0 ||
            settings.Bits > 0 || settings.Quality || settings.Compression >= 0)
            throw TUsageError(
                "a --target sets its own bit rates, rate, channels and sample size");
        CheckFiles(command);
        return;
    }
    CheckFormatSettings(command.Format, settings);
    CheckFiles(command);
}

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments)
{
    std::vector<std::string> texts;
    texts.reserve(arguments.size() + 1);
    texts.emplace_back("kelvaro");
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : texts)
        argv.push_back(text.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(texts.size());

    TCommandLine command;
    // The messages are ours; 0 makes the parser start afresh on every call.
    opterr = 0;
    optind = 0;
    int value = 0;
    while ((value = getopt_long(argc, argv.data(), kShortOptions, kOptions, nullptr)) != -1) {
        const std::string text = optarg ? optarg : "";
        switch (value) {
            case 'f':
                command.Format = ParseFormat(text);
                command.FormatGiven = true;
                break;
            case 'o':
                command.OutputFolder = NonEmpty("--output", optarg, "a folder");
                break;
            case 'j':
                command.Jobs = ParseInRange("--jobs", text, 0, kMaxJobs, "a number");
                break;
            case 'q':
                command.Quiet = true;
                break;
            case 'r':
                command.Recursive = true;
                break;
            case '0':
                command.NulSeparated = true;
                break;
            case 'V':
                command.Version = true;
                break;
            case 'h':
                command.Help = true;
                break;
            case kBitRate:
                command.Settings.BitRate = ParseBitRate(text);
                break;
            case kRate:
                command.Settings.SampleRate =
                    ParseInRange("--rate", text, 1, kMaxSampleRate, "a sample rate in Hz");
                break;
            case kChannels:
                command.Settings.Channels =
                    ParseInRange("--channels", text, 1, kMaxChannels, "a channel count");
                break;
            case kBits:
                if (text != "16" && text != "24")
                    throw TUsageError("--bits takes 16 or 24, not '" + text + "'");
                command.Settings.Bits = text == "16" ? 16 : 24;
                break;
            case kOption:
                command.OptionText += ParseOption(text) + "\n";
                break;
            case kLogLevel:
                command.LogLevel = ParseLogLevel(text);
                break;
            case kKeepPartial:
                command.KeepPartial = true;
                break;
            case kKeepStructure:
                command.KeepStructure = true;
                break;
            case kFilesFrom:
                command.FilesFrom = NonEmpty("--files-from", optarg, "a file");
                break;
            case kSkipExisting:
                command.SkipExisting = true;
                break;
            case kSummary:
                command.Summary = ParseSummary(text);
                break;
            case kReport:
                command.ReportFile = NonEmpty("--report", optarg, "a file");
                break;
            case kTarget:
                command.Settings.Target = ParseTarget(text);
                break;
            case kNorm:
                command.Settings.Norm = ParseNorm(text);
                break;
            case kQuality:
                command.Settings.Quality = ParseQuality(text);
                break;
            case kCompression:
                command.Settings.Compression = ParseInRange("--compression", text, 0, 8, "a level");
                break;
            case ':':
                throw TUsageError(LongName(optopt) + " needs a value");
            default: {
                const std::string given = argv[static_cast<size_t>(optind) - 1];
                if (optopt != 0 && given.starts_with("--"))
                    throw TUsageError(LongName(optopt) + " takes no value");
                if (optopt != 0 && !given.starts_with("--"))
                    throw TUsageError(std::string("unknown option '-") + static_cast<char>(optopt) +
                                      "'");
                const std::string name = given.substr(0, given.find('='));
                std::string matches;
                for (const option& entry : kOptions)
                    if (entry.name && name.size() > 2 &&
                        std::string("--").append(entry.name).starts_with(name))
                        matches += (matches.empty() ? "--" : ", --") + std::string(entry.name);
                if (matches.find(',') != std::string::npos)
                    throw TUsageError("ambiguous option '" + name + "' (" + matches + ")");
                throw TUsageError("unknown option '" + name + "'");
            }
        }
    }
    for (int i = optind; i < argc; ++i)
        command.Files.emplace_back(argv[static_cast<size_t>(i)]);
    if (!command.Help && !command.Version)
        CheckCombination(command);
    return command;
}

std::string UsageText()
{
    return "Usage: kelvaro [OPTION]... FILE...\n"
           "       kelvaro [OPTION]... --files-from LIST\n"
           "Converts audio files (and the audio of video files) to WMA, WAV, MP3, AAC,\n"
           "Opus, Vorbis, FLAC or ALAC.\n"
           "\n"
           "Each output is named after its input with the new extension, and written\n"
           "beside it unless --output names a folder. Video is dropped (but see --target).\n"
           "Rate and channels follow the input where the format holds them (WMA and MP3\n"
           "take at most 48000 Hz and 2 channels, Opus is always 48000 Hz, the others keep\n"
           "up to 8 channels); FLAC and ALAC keep a 24-bit source's bits.\n"
           "\n"
           "Formats (-f) and their defaults:\n"
           "  wma     .wma   wmav2 at 128 kbit/s (--bitrate)\n"
           "  wav     .wav   16-bit PCM (--bits)\n"
           "  mp3     .mp3   variable bit rate, quality 2 (--quality 0 best to 9, or a\n"
           "                 constant --bitrate), gapless through its LAME header\n"
           "  aac     .m4a   AAC-LC at 192 kbit/s (--bitrate); m4a is the same\n"
           "  opus    .opus  128 kbit/s (--bitrate)\n"
           "  vorbis  .ogg   quality 5 (--quality -1 to 10 best); ogg is the same\n"
           "  flac    .flac  compression 5 (--compression 0 to 8), lossless\n"
           "  alac    .m4a   lossless\n"
           "\n"
           "What to convert:\n"
           "  -r, --recursive       convert the audio files beneath FILEs that are folders\n"
           "      --files-from=LIST  also convert the files LIST names, one per line\n"
           "                        ('-' reads standard input)\n"
           "  -0, --null            the names in LIST end with NUL, not newline\n"
           "                        (as find -print0 writes them)\n"
           "      --skip-existing   leave a complete output of an earlier run alone and skip\n"
           "                        its input: running a command again resumes it\n"
           "\n"
           "Where and how:\n"
           "  -f, --format=FORMAT   wma (the default), wav, mp3, aac, opus, vorbis, flac\n"
           "                        or alac (see Formats above)\n"
           "  -o, --output=DIR      write the outputs into DIR, created when missing\n"
           "      --keep-structure  with --output: write each output at its input's path\n"
           "                        below DIR: a file found in a folder at its path below\n"
           "                        that folder, a named or listed file at its own path\n"
           "                        less a leading /, ./ or ../ (as tar stores names)\n"
           "      --bitrate=RATE    bit rate in bit/s, such as 192000 or 192k: WMA (from\n"
           "                        24k), AAC, Opus, and MP3 at a constant bit rate\n"
           "      --quality=Q       MP3 (0 best to 9) or Vorbis (-1 to 10 best) quality\n"
           "      --compression=N   FLAC compression level, 0 (fastest) to 8 (smallest)\n"
           "      --rate=HZ         sample rate of the outputs\n"
           "      --channels=N      channels of the outputs (mixed down or up)\n"
           "      --bits=16|24      WAV, FLAC or ALAC sample size (WAV's default is 16;\n"
           "                        FLAC and ALAC follow the source)\n"
           "      --target=TARGET   instead of an audio format: vcd, svcd, dvd (MPEG, .mpg),\n"
           "                        dv or dv50 (.dv), with the target's own picture size,\n"
           "                        codecs and rates; video inputs keep their picture\n"
           "      --norm=NORM       with --target: pal, ntsc or film (default: from the\n"
           "                        input's frame rate, else pal)\n"
           "      --option=NAME=VALUE  an option of the media libraries for every output,\n"
           "                        such as --option packetsize=2048; refused when no part\n"
           "                        of the output takes it\n"
           "  -j, --jobs=N          files converted at once (default: one per processor\n"
           "                        core; 0 means the same)\n"
           "      --keep-partial    when stopped, keep what the files being converted had\n"
           "                        got to as NAME.partial.EXT (by default it is removed);\n"
           "                        an earlier file of the output's name stays either way\n"
           "\n"
           "What it says:\n"
           "  -q, --quiet           errors only: no progress, no summary\n"
           "      --summary=WHICH   short (the default): the counts, then the files that\n"
           "                        failed, were stopped or were done with a warning;\n"
           "                        full: every file\n"
           "      --report=FILE     write a line per file to FILE, tab-separated: input,\n"
           "                        output, status, seconds of audio, seconds taken, reason\n"
           "      --log-level=LEVEL  media library messages shown: quiet, error (the\n"
           "                        default), warning, info, debug or all\n"
           "  -h, --help            show this help and exit\n"
           "  -V, --version         show the version and exit\n"
           "\n"
           "Progress goes to standard error (redrawn in place on a terminal), the summary\n"
           "to standard output. Outputs are written under a hidden temporary name and take\n"
           "their own name only when complete, so an interrupted run never leaves a partial\n"
           "file in their place.\n"
           "\n"
           "Exit status: 0 when every file was converted (or skipped), 1 when any failed\n"
           "or was done with a warning, 2 for a bad command line, 128 + the signal when\n"
           "stopped: 130 for Ctrl-C (SIGINT), 143 for SIGTERM, 129 for SIGHUP.\n";
}

std::string VersionText()
{
    return "kelvaro " KELVARO_VERSION
           "\n"
           "Converts audio files to WMA, WAV, MP3, AAC, Opus, Vorbis, FLAC or ALAC through\n"
           "the FFmpeg libraries.\n";
}

int ParallelJobs(int jobs)
{
    if (jobs > 0)
        return jobs;
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

}  // namespace kelvaro::cli
