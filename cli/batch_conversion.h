#pragma once
// One run of the command line: every file becomes a job of the converter component under
// the rule the main window uses, the jobs run, and the console follows them to a summary.

#include <cstdio>
#include <functional>

#include "cli/command_line.h"

namespace kelvaro::cli {

struct TConsole {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    bool terminal = false;  // progress redrawn in place on `out`
};

// Converts the command's files and returns the exit status. `interruptSignal` is polled by
// the main thread; once it answers a signal (not 0) the running files are stopped and closed
// properly, and the status is 128 + that signal.
int RunBatch(const TCommandLine& command, const TConsole& console,
             const std::function<int()>& interruptSignal);

}  // namespace kelvaro::cli
