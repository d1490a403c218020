#include "cli/progress_display.h"

#include <algorithm>

#include "converter/conversion_rule.h"
#include "converter/duration_text.h"
#include "engine/text_format.h"

namespace kelvaro::cli {
namespace {

// Live lines are redrawn at most this often; ended files and messages show at once.
constexpr std::chrono::milliseconds kRedrawInterval{100};

}  // namespace

std::string ProgressLine(const TFileStatus& status, Clock::time_point now,
                         std::chrono::milliseconds reportInterval)
{
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    std::string percent = " --%";
    if (status.TotalMs > 0) {
        const int64_t value = int64_t{status.PositionMs} * 100 / status.TotalMs;
        percent = Format("%3d%%", static_cast<int>(std::clamp<int64_t>(value, 0, 100)));
    }
    const milliseconds elapsed =
        duration_cast<milliseconds>(now - status.FirstReport) + reportInterval;
    const milliseconds measured =
        duration_cast<milliseconds>(status.LastReport - status.FirstReport) + reportInterval;
    std::string speed = "  --x";
    if (measured.count() > 0)
        speed = Format("%4.1fx", static_cast<double>(status.PositionMs) /
                                     static_cast<double>(measured.count()));
    return percent + "  " + MinutesAndSeconds(elapsed) + "  " + speed + "  " +
           FileNamePart(status.Input);
}

std::string EndedLine(const TFileStatus& status)
{
    switch (status.State) {
        case TFileState::Done:
            return "done     " + status.Input + " -> " + status.Output;
        case TFileState::Failed:
            return "failed   " + status.Input + ": " + status.Reason;
        case TFileState::Stopped:
            return status.OutputKept
                       ? "stopped  " + status.Input + " -> " + status.Output + " (partial)"
                       : "stopped  " + status.Input + " (no output kept)";
        case TFileState::Waiting:
        case TFileState::Converting:
            break;
    }
    return "waiting  " + status.Input;
}

std::string LogLineText(const TLogLine& line)
{
    std::string text = line.Text;
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
    return line.File.empty() ? text : FileNamePart(line.File) + ": " + text;
}

TProgressDisplay::TProgressDisplay(std::FILE* out, std::FILE* err, bool terminal,
                                   std::chrono::milliseconds reportInterval,
                                   std::function<Clock::time_point()> now)
    : out_(out),
      err_(err),
      terminal_(terminal),
      reportInterval_(reportInterval),
      now_(std::move(now))
{
}

void TProgressDisplay::EraseLiveLines()
{
    if (liveLines_ > 0)
        std::fprintf(out_, "\x1b[%dA\x1b[J", liveLines_);
    liveLines_ = 0;
}

void TProgressDisplay::Update(TBatchProgress& progress)
{
    const std::vector<TLogLine> lines = progress.TakeLogLines();
    const std::vector<int> ended = progress.TakeEnded();
    const Clock::time_point now = now_();
    const bool redraw =
        terminal_ && (!lines.empty() || !ended.empty() || now - lastDraw_ >= kRedrawInterval);
    if (redraw)
        EraseLiveLines();
    if (!lines.empty()) {
        // Both streams may share the terminal: ours must be out before theirs.
        std::fflush(out_);
        for (const TLogLine& line : lines)
            std::fprintf(err_, "%s\n", LogLineText(line).c_str());
        std::fflush(err_);
    }
    // Every wake of the main loop comes here; a copy of every file's state is made only
    // when something is going to be printed from it.
    if (ended.empty() && !redraw)
        return;
    const std::vector<TFileStatus> files = progress.Files();
    for (int file : ended)
        std::fprintf(out_, "%s\n", EndedLine(files[static_cast<size_t>(file)]).c_str());
    if (redraw) {
        for (const TFileStatus& status : files) {
            if (status.State != TFileState::Converting)
                continue;
            std::fprintf(out_, "%s\n", ProgressLine(status, now, reportInterval_).c_str());
            ++liveLines_;
        }
        lastDraw_ = now;
    }
    std::fflush(out_);
}

void TProgressDisplay::Finish()
{
    EraseLiveLines();
    std::fflush(out_);
}

}  // namespace kelvaro::cli
