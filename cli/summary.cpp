#include "cli/summary.h"

#include <algorithm>

#include "cli/progress_display.h"

namespace kelvaro::cli {

TFileState FinalState(const TFileStatus& status, bool interrupted)
{
    if (status.State == TFileState::Waiting || status.State == TFileState::Converting)
        return interrupted ? TFileState::Stopped : TFileState::Failed;
    return status.State;
}

std::string FailureReason(const TFileStatus& status)
{
    return status.Reason.empty() ? std::string("the file was not converted") : status.Reason;
}

std::string SummaryText(const std::vector<TFileStatus>& files, bool interrupted,
                        TSummaryScope scope)
{
    size_t counts[kFileStateCount] = {};
    std::string lines;
    for (const TFileStatus& status : files) {
        TFileStatus shown = status;
        shown.State = FinalState(status, interrupted);
        ++counts[static_cast<size_t>(shown.State)];
        if (shown.State == TFileState::Failed) {
            lines += "  failed   " + Printable(status.Input) + "\n";
            lines += "           reason: " + Printable(FailureReason(status)) + "\n";
        } else if (shown.State == TFileState::Stopped || scope == TSummaryScope::Full) {
            lines += "  " + EndedLine(shown) + "\n";
        }
    }
    const auto count = [&](TFileState state) {
        return std::to_string(counts[static_cast<size_t>(state)]);
    };
    std::string heading = "Summary: " + std::to_string(files.size()) +
                          (files.size() == 1 ? " file: " : " files: ") + count(TFileState::Done) +
                          " done, " + count(TFileState::Failed) + " failed";
    if (counts[static_cast<size_t>(TFileState::Stopped)] > 0)
        heading += ", " + count(TFileState::Stopped) + " stopped";
    if (counts[static_cast<size_t>(TFileState::Skipped)] > 0)
        heading += ", " + count(TFileState::Skipped) + " skipped";
    return heading + "\n" + lines;
}

int ExitStatus(const std::vector<TFileStatus>& files, int interruptSignal)
{
    if (interruptSignal != 0)
        return kExitSignalBase + interruptSignal;
    const bool allDone = std::all_of(files.begin(), files.end(), [](const TFileStatus& status) {
        return status.State == TFileState::Done || status.State == TFileState::Skipped;
    });
    return allDone ? kExitConverted : kExitFailed;
}

}  // namespace kelvaro::cli
