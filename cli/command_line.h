#pragma once
// The command line of `kelvaro`: what to convert, to which format, where, how many at once.

#include <stdexcept>
#include <string>
#include <vector>

#include "converter/conversion_rule.h"
#include "engine/logging.h"

namespace kelvaro::cli {

struct TCommandLine {
    TTargetFormat Format = TTargetFormat::Wma;
    std::string OutputFolder;  // empty: the default folder
    int Jobs = 1;              // 0: one per processor core
    TLogLevel LogLevel = llError;
    std::string OptionText;  // the --option pairs, one "NAME=VALUE" line each
    std::vector<std::string> Files;
    // Keep what a stopped file had converted under its output's name, rather than remove it.
    bool KeepPartial = false;
    bool Help = false;
};

// A command line that cannot be run; its text says why.
class TUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// `arguments` without the program name. Raises TUsageError.
TCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

std::string UsageText();

// Jobs to run at once: `jobs`, or the number of processor cores for 0.
int ParallelJobs(int jobs);

}  // namespace kelvaro::cli
