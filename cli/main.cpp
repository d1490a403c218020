// kelvaro: converts audio files (and the audio of video files) to the formats of
// converter/target_formats.h.

#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "cli/batch_conversion.h"
#include "cli/command_line.h"
#include "cli/interrupt_watch.h"
#include "cli/summary.h"

namespace {

// Progress is drawn in place only where it can be: a terminal that knows cursor movement.
bool CanRedraw(int descriptor)
{
    const char* term = std::getenv("TERM");
    return isatty(descriptor) != 0 && term && *term && std::strcmp(term, "dumb") != 0;
}

size_t TerminalColumns(int descriptor)
{
    winsize size{};
    if (ioctl(descriptor, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    if (const char* columns = std::getenv("COLUMNS"); columns && std::atoi(columns) > 0)
        return static_cast<size_t>(std::atoi(columns));
    return 80;
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace kelvaro::cli;
    TCommandLine command;
    try {
        command = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const TUsageError& error) {
        std::fprintf(stderr, "kelvaro: %s (kelvaro --help shows the options)\n", error.what());
        return kExitUsage;
    }
    if (command.Help || command.Version) {
        std::fputs(command.Help ? UsageText().c_str() : VersionText().c_str(), stdout);
        return std::fflush(stdout) == 0 ? kExitConverted : kExitFailed;
    }

    // A closed standard output (`kelvaro ... | head -1`) ends the printing, never the run
    // and the files it is writing; a file-size limit fails the write with its reason rather
    // than killing the process.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    // Before any other thread exists.
    TInterruptWatch interrupt;
    TConsole console;
    console.mode = command.Quiet              ? TDisplayMode::Quiet
                   : CanRedraw(STDERR_FILENO) ? TDisplayMode::Live
                                              : TDisplayMode::Lines;
    console.columns = [] { return TerminalColumns(STDERR_FILENO); };
    try {
        return RunBatch(command, console, [&] { return interrupt.Signal(); });
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kelvaro: %s\n", error.what());
        return kExitFailed;
    }
}
