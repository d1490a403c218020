#pragma once
// The end of a batch: each file with its result, the reason of every failure, and the exit
// status.

#include <string>
#include <vector>

#include "cli/batch_progress.h"

namespace kelvaro::cli {

inline constexpr int kExitConverted = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
// 128 + the signal that stopped the run, as shells report it: 130 for SIGINT, 143 for
// SIGTERM, 129 for SIGHUP.
inline constexpr int kExitSignalBase = 128;

// A file that never ended counts as stopped after an interrupt, as failed otherwise. A file
// done with a reason was done with a warning: counted apart, and not a plain success.
std::string SummaryText(const std::vector<TFileStatus>& files, bool interrupted);
// `interruptSignal`: the signal that stopped the run, 0 for none.
int ExitStatus(const std::vector<TFileStatus>& files, int interruptSignal);

}  // namespace kelvaro::cli
