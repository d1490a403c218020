#include "cli/command_line.h"

#include <algorithm>
#include <charconv>
#include <thread>

namespace kelvaro::cli {
namespace {

// Worker threads beyond this only queue for the same cores.
constexpr int kMaxJobs = 256;

TTargetFormat ParseFormat(const std::string& text)
{
    if (text == "wma")
        return TTargetFormat::Wma;
    if (text == "wav")
        return TTargetFormat::Wav;
    throw TUsageError("unknown format '" + text + "' (wma or wav)");
}

int ParseJobs(const std::string& text)
{
    int jobs = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), jobs);
    if (error != std::errc() || end != text.data() + text.size() || jobs < 0 || jobs > kMaxJobs)
        throw TUsageError("--jobs takes a number from 0 to " + std::to_string(kMaxJobs) +
                          ", not '" + text + "'");
    return jobs;
}

TLogLevel ParseLogLevel(const std::string& text)
{
    static const std::pair<const char*, TLogLevel> kLevels[] = {{"quiet", llQuiet},
                                                                {"error", llError},
                                                                {"info", llInfo},
                                                                {"debug", llDebug},
                                                                {"all", llAll}};
    for (const auto& [name, level] : kLevels)
        if (text == name)
            return level;
    throw TUsageError("unknown log level '" + text + "' (quiet, error, info, debug or all)");
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

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments)
{
    TCommandLine command;
    bool optionsEnded = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            command.Files.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (argument == "--help" || argument == "-h") {
            command.Help = true;
            continue;
        }
        if (argument == "--keep-partial") {
            command.KeepPartial = true;
            continue;
        }
        // "--name value" or "--name=value".
        std::string name = argument;
        std::string value;
        bool hasValue = false;
        if (const size_t equals = argument.find('='); equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
            hasValue = true;
        }
        const auto takeValue = [&] {
            if (hasValue)
                return value;
            if (i + 1 >= arguments.size())
                throw TUsageError(name + " needs a value");
            return arguments[++i];
        };
        if (name == "--format") {
            command.Format = ParseFormat(takeValue());
        } else if (name == "--output") {
            command.OutputFolder = takeValue();
            if (command.OutputFolder.empty())
                throw TUsageError("--output needs a folder");
        } else if (name == "--jobs") {
            command.Jobs = ParseJobs(takeValue());
        } else if (name == "--log-level") {
            command.LogLevel = ParseLogLevel(takeValue());
        } else if (name == "--option") {
            command.OptionText += ParseOption(takeValue()) + "\n";
        } else {
            throw TUsageError("unknown option '" + argument + "'");
        }
    }
    if (!command.Help && command.Files.empty())
        throw TUsageError("no files to convert");
    return command;
}

std::string UsageText()
{
    return "Usage: kelvaro [--format wma|wav] [--output DIR] [--jobs N] [--keep-partial]\n"
           "               [--log-level quiet|error|info|debug|all] [--option NAME=VALUE ...]\n"
           "               FILE...\n"
           "\n"
           "Converts each FILE to WMA (wmav2, 128 kbit/s) or WAV (16-bit PCM) in DIR, named\n"
           "after the file with the new extension. Video is dropped.\n"
           "\n"
           "  --format     wma (the default) or wav\n"
           "  --output     the output folder, created when missing (default: the one\n"
           "               saved in the window's settings, else $KELVARO_DEFAULT_FOLDER,\n"
           "               else $HOME/Kelvaro/)\n"
           "  --jobs       files converted at once (default 1; 0: one per processor core)\n"
           "  --log-level  messages of the media libraries shown on standard error\n"
           "               (default error)\n"
           "  --option     an option of the media libraries for every output, such as\n"
           "               --option packetsize=2048; the format's own settings win\n"
           "  --keep-partial  when stopped, keep what the files being converted had got\n"
           "               to under their output names (by default they are removed and\n"
           "               an earlier file of that name stays as it was)\n"
           "\n"
           "Outputs are written under a hidden temporary name and take their own name only\n"
           "when complete, so an interrupted run never leaves a partial file in their place.\n"
           "\n"
           "Exit status: 0 when every file was converted, 1 when any failed or was done\n"
           "with a warning, 2 for a bad command line, 128 + the signal when stopped: 130\n"
           "for Ctrl-C (SIGINT), 143 for SIGTERM, 129 for SIGHUP.\n";
}

int ParallelJobs(int jobs)
{
    if (jobs > 0)
        return jobs;
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

}  // namespace kelvaro::cli
