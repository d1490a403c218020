#pragma once
// The end of a batch: the counts, the files that failed or were stopped with their reasons
// (or every file), and the exit status.

#include <string>
#include <vector>

#include "cli/batch_progress.h"
#include "cli/command_line.h"

namespace kelvaro::cli {

inline constexpr int kExitConverted = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
// 128 + the signal that stopped the run, as shells report it: 130 for SIGINT, 143 for
// SIGTERM, 129 for SIGHUP.
inline constexpr int kExitSignalBase = 128;

// A file that never ended counts as stopped after an interrupt, as failed otherwise.
TFileState FinalState(const TFileStatus& status, bool interrupted);
// Why a file failed, with a reason also for a file that never got one.
std::string FailureReason(const TFileStatus& status);

// The counts, then the files that failed, were stopped or were done with a warning (every
// file for a full summary). A file done with a reason was done with a warning.
std::string SummaryText(const std::vector<TFileStatus>& files, bool interrupted,
                        TSummaryScope scope = TSummaryScope::Problems);
// `interruptSignal`: the signal that stopped the run, 0 for none. Skipped files count as
// converted; files done with a warning do not.
int ExitStatus(const std::vector<TFileStatus>& files, int interruptSignal);

}  // namespace kelvaro::cli
