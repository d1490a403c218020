#pragma once
// The command line of `kelvaro`: what to convert, to which format, where, how many at once,
// and how the run reports.

#include <stdexcept>
#include <string>
#include <vector>

#include "converter/conversion_rule.h"

namespace kelvaro::cli {

// The messages shown on standard error. Library warnings have a level of their own here;
// the component counts them with the errors (warning) or with the information lines.
enum class TMessageLevel { Quiet, Error, Warning, Info, Debug, All };

// Which files the summary lists.
enum class TSummaryScope { Problems, Full };

struct TCommandLine {
    TTargetFormat Format = TTargetFormat::Wma;
    bool FormatGiven = false;
    std::string OutputFolder;  // empty: each output beside its input
    int Jobs = 0;              // 0: one per processor core
    TMessageLevel LogLevel = TMessageLevel::Error;
    std::string OptionText;  // the --option pairs, one "NAME=VALUE" line each
    TConversionSettings Settings;
    std::vector<std::string> Files;
    // Folders stand for the audio files beneath them.
    bool Recursive = false;
    // Outputs keep their path relative to the folder each input was found under.
    bool KeepStructure = false;
    std::string FilesFrom;  // a list of files to convert; "-" for standard input
    bool NulSeparated = false;
    // A complete output from an earlier run is left alone, and its input skipped.
    bool SkipExisting = false;
    // Keep what a stopped file had converted under its output's name, rather than remove it.
    bool KeepPartial = false;
    bool Quiet = false;  // errors only: no progress, no summary
    TSummaryScope Summary = TSummaryScope::Problems;
    std::string ReportFile;  // one TSV line per file; empty for none
    bool Help = false;
    bool Version = false;
};

// A command line that cannot be run; its text says why, in one line.
class TUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// `arguments` without the program name. Raises TUsageError.
TCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

std::string UsageText();
// "kelvaro 2.0" and what it is.
std::string VersionText();

// Jobs to run at once: `jobs`, or the number of processor cores for 0.
int ParallelJobs(int jobs);

}  // namespace kelvaro::cli
