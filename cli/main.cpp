// kelvaro: converts audio files (and the audio of video files) to WMA or WAV.

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/batch_conversion.h"
#include "cli/command_line.h"
#include "cli/interrupt_watch.h"
#include "cli/summary.h"

int main(int argc, char** argv)
{
    using namespace kelvaro::cli;
    TCommandLine command;
    try {
        command = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const TUsageError& error) {
        std::fprintf(stderr, "kelvaro: %s\n\n%s", error.what(), UsageText().c_str());
        return kExitUsage;
    }
    if (command.Help) {
        std::fputs(UsageText().c_str(), stdout);
        return kExitConverted;
    }

    // A closed standard output (`kelvaro ... | head -1`) ends the printing, never the run
    // and the files it is writing; a file-size limit fails the write with its reason rather
    // than killing the process.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    // Before any other thread exists.
    TInterruptWatch interrupt;
    TConsole console;
    console.terminal = isatty(fileno(stdout)) != 0;
    try {
        return RunBatch(command, console, [&] { return interrupt.Signal(); });
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kelvaro: %s\n", error.what());
        return kExitFailed;
    }
}
