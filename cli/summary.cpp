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
    size_t warned = 0;
    std::string lines;
    for (const TFileStatus& status : files) {
        TFileStatus shown = status;
        shown.State = FinalState(status, interrupted);
        ++counts[static_cast<size_t>(shown.State)];
        const bool warning = shown.State == TFileState::Done && !status.Reason.empty();
        warned += warning ? 1 : 0;
        if (shown.State == TFileState::Failed) {
            lines += "  failed   " + Printable(status.Input) + "\n";
            lines += "           reason: " + Printable(FailureReason(status)) + "\n";
        } else if (warning) {
            shown.Reason.clear();
            lines += "  " + EndedLine(shown) + "\n";
            lines += "           warning: " + Printable(status.Reason) + "\n";
        } else if (shown.State == TFileState::Stopped || scope == TSummaryScope::Full) {
            lines += "  " + EndedLine(shown) + "\n";
        }
    }
    const auto count = [&](TFileState state) { return counts[static_cast<size_t>(state)]; };
    std::string heading = "Summary: " + std::to_string(files.size()) +
                          (files.size() == 1 ? " file: " : " files: ") +
                          std::to_string(count(TFileState::Done) - warned) + " done, ";
    if (warned > 0)
        heading += std::to_string(warned) + " done with a warning, ";
    heading += std::to_string(count(TFileState::Failed)) + " failed";
    if (count(TFileState::Stopped) > 0)
        heading += ", " + std::to_string(count(TFileState::Stopped)) + " stopped";
    if (count(TFileState::Skipped) > 0)
        heading += ", " + std::to_string(count(TFileState::Skipped)) + " skipped";
    return heading + "\n" + lines;
}

int ExitStatus(const std::vector<TFileStatus>& files, int interruptSignal)
{
    if (interruptSignal != 0)
        return kExitSignalBase + interruptSignal;
    // A file done with a warning is not a plain success.
    const bool allDone = std::all_of(files.begin(), files.end(), [](const TFileStatus& status) {
        return (status.State == TFileState::Done && status.Reason.empty()) ||
               status.State == TFileState::Skipped;
    });
    return allDone ? kExitConverted : kExitFailed;
}

}  // namespace kelvaro::cli
