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

std::string SummaryText(const std::vector<TFileStatus>& files, bool interrupted,
                        TSummaryScope scope = TSummaryScope::Problems);
// `interruptSignal`: the signal that stopped the run, 0 for none. Skipped files count as
// converted.
int ExitStatus(const std::vector<TFileStatus>& files, int interruptSignal);

}  // namespace kelvaro::cli
