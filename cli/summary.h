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
inline constexpr int kExitInterrupted = 130;  // 128 + SIGINT, as shells report it

// A file that never ended counts as stopped after an interrupt, as failed otherwise. A file
// done with a reason was done with a warning: counted apart, and not a plain success.
std::string SummaryText(const std::vector<TFileStatus>& files, bool interrupted);
int ExitStatus(const std::vector<TFileStatus>& files, bool interrupted);

}  // namespace kelvaro::cli
