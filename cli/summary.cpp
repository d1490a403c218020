#include "cli/summary.h"

#include <algorithm>

#include "cli/progress_display.h"

namespace kelvaro::cli {
namespace {

TFileState FinalState(const TFileStatus& status, bool interrupted)
{
    if (status.State == TFileState::Waiting || status.State == TFileState::Converting)
        return interrupted ? TFileState::Stopped : TFileState::Failed;
    return status.State;
}

}  // namespace

std::string SummaryText(const std::vector<TFileStatus>& files, bool interrupted)
{
    int done = 0, warned = 0, failed = 0, stopped = 0;
    std::string lines;
    for (const TFileStatus& status : files) {
        TFileStatus shown = status;
        shown.State = FinalState(status, interrupted);
        switch (shown.State) {
            case TFileState::Done:
                lines += "  " + EndedLine(shown) + "\n";
                if (status.Reason.empty()) {
                    ++done;
                } else {
                    ++warned;
                    lines += "           warning: " + status.Reason + "\n";
                }
                break;
            case TFileState::Stopped:
                ++stopped;
                lines += "  " + EndedLine(shown) + "\n";
                break;
            default:
                ++failed;
                lines += "  failed   " + status.Input + "\n";
                lines += "           reason: " +
                         (status.Reason.empty() ? std::string("the file was not converted")
                                                : status.Reason) +
                         "\n";
                break;
        }
    }
    std::string heading = "Summary: " + std::to_string(files.size()) +
                          (files.size() == 1 ? " file: " : " files: ") + std::to_string(done) +
                          " done, " +
                          (warned > 0 ? std::to_string(warned) + " done with a warning, " : "") +
                          std::to_string(failed) + " failed";
    if (stopped > 0)
        heading += ", " + std::to_string(stopped) + " stopped";
    return heading + "\n" + lines;
}

int ExitStatus(const std::vector<TFileStatus>& files, int interruptSignal)
{
    if (interruptSignal != 0)
        return kExitSignalBase + interruptSignal;
    // A file done with a warning is not a plain success either.
    const bool allDone = std::all_of(files.begin(), files.end(), [](const TFileStatus& status) {
        return status.State == TFileState::Done && status.Reason.empty();
    });
    return allDone ? kExitConverted : kExitFailed;
}

}  // namespace kelvaro::cli
