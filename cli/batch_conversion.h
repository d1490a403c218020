#pragma once
// One run of the command line: every listed file becomes a job of the converter component
// under the rule the main window uses, the jobs run while later files are still listed, and
// the console follows them to a summary.

#include <cstdio>
#include <functional>

#include "cli/command_line.h"
#include "cli/progress_display.h"

namespace kelvaro::cli {

struct TConsole {
    std::FILE* out = stdout;  // the summary
    std::FILE* err = stderr;  // progress, messages and errors
    TDisplayMode mode = TDisplayMode::Lines;
    std::function<size_t()> columns;  // of the terminal, for a live display
};

// Converts the command's files and returns the exit status. `interruptSignal` is polled by
// the main thread; once it answers a signal (not 0) the running files are stopped and closed
// properly, and the status is 128 + that signal.
int RunBatch(const TCommandLine& command, const TConsole& console,
             const std::function<int()>& interruptSignal);

}  // namespace kelvaro::cli
