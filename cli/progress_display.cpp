#include "cli/progress_display.h"

#include <algorithm>
#include <cstdint>

#include "converter/conversion_rule.h"
#include "converter/duration_text.h"
#include "engine/text_format.h"

namespace kelvaro::cli {
namespace {

using std::chrono::duration_cast;
using std::chrono::milliseconds;

// Live lines are redrawn at most this often; ended files and messages show at once.
constexpr milliseconds kRedrawInterval{100};
// Converting files shown one per line; more are only counted.
constexpr size_t kMaxFileLines = 8;
// Below this many files' worth of work done, a time left would be a guess.
constexpr double kLeastWorkForEstimate = 0.05;

// The code point at `text[i]` and the bytes it takes; an invalid byte is taken alone.
std::pair<uint32_t, size_t> DecodeUtf8(std::string_view text, size_t i)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t length = lead < 0x80           ? 1
                    : (lead >> 5) == 0x6  ? 2
                    : (lead >> 4) == 0xe  ? 3
                    : (lead >> 3) == 0x1e ? 4
                                          : 0;
    if (length == 0 || i + length > text.size())
        return {lead, 1};
    uint32_t code = length == 1 ? lead : lead & (0x7f >> length);
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80)
            return {lead, 1};
        code = code << 6 | (byte(i + k) & 0x3f);
    }
    return {code, length};
}

int CodePointWidth(uint32_t code)
{
    if ((code >= 0x300 && code <= 0x36f) || (code >= 0x200b && code <= 0x200f) ||
        (code >= 0xfe00 && code <= 0xfe0f))
        return 0;
    const bool wide = (code >= 0x1100 && code <= 0x115f) || (code >= 0x2e80 && code <= 0xa4cf) ||
                      (code >= 0xac00 && code <= 0xd7a3) || (code >= 0xf900 && code <= 0xfaff) ||
                      (code >= 0xfe30 && code <= 0xfe4f) || (code >= 0xff00 && code <= 0xff60) ||
                      (code >= 0xffe0 && code <= 0xffe6) || (code >= 0x1f300 && code <= 0x1f64f) ||
                      (code >= 0x1f900 && code <= 0x1f9ff) || (code >= 0x20000 && code <= 0x3fffd);
    return wide ? 2 : 1;
}

}  // namespace

std::string Printable(std::string_view text)
{
    std::string shown(text);
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return shown;
}

size_t DisplayWidth(std::string_view text)
{
    size_t width = 0;
    for (size_t i = 0; i < text.size();) {
        const auto [code, length] = DecodeUtf8(text, i);
        width += static_cast<size_t>(CodePointWidth(code));
        i += length;
    }
    return width;
}

std::string CutToWidth(std::string_view text, size_t columns)
{
    size_t width = 0;
    size_t i = 0;
    while (i < text.size()) {
        const auto [code, length] = DecodeUtf8(text, i);
        const size_t next = width + static_cast<size_t>(CodePointWidth(code));
        if (next > columns)
            break;
        width = next;
        i += length;
    }
    return std::string(text.substr(0, i));
}

std::string ProgressLine(const TFileStatus& status, Clock::time_point now,
                         milliseconds reportInterval)
{
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
           Printable(FileNamePart(status.Input));
}

std::string EndedLine(const TFileStatus& status)
{
    const std::string input = Printable(status.Input);
    const std::string output = Printable(status.Output);
    switch (status.State) {
        case TFileState::Done:
            if (!status.Reason.empty())
                return "done     " + input + " -> " + output +
                       " (warning: " + Printable(status.Reason) + ")";
            return "done     " + input + " -> " + output;
        case TFileState::Failed: {
            // The engine's reasons often start with the file's name: once is enough.
            std::string reason = status.Reason;
            if (reason.starts_with(status.Input + ": "))
                reason.erase(0, status.Input.size() + 2);
            return "failed   " + input + ": " + Printable(reason);
        }
        case TFileState::Skipped:
            return "skipped  " + input + ": " + Printable(status.Reason);
        case TFileState::Stopped:
            return status.OutputKept ? "stopped  " + input + " -> " + output + " (partial)"
                                     : "stopped  " + input + " (no output kept)";
        case TFileState::Waiting:
        case TFileState::Converting:
            break;
    }
    return "waiting  " + input;
}

std::string LogLineText(const TLogLine& line)
{
    std::string text = line.Text;
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
    text = Printable(text);
    return line.File.empty() ? text : Printable(FileNamePart(line.File)) + ": " + text;
}

std::string CountsLine(const TBatchCounts& counts, Clock::time_point now)
{
    std::string line = std::to_string(counts.Ended()) + "/" + std::to_string(counts.Listed) +
                       (counts.ListEnded ? "" : "+") + " files";
    if (const size_t failed = counts.Count(TFileState::Failed))
        line += ", " + std::to_string(failed) + " failed";
    if (!counts.ListEnded || !counts.AnyStarted)
        return line;
    // Every job is taken to cost as much as the average of those done or under way.
    const double done = static_cast<double>(counts.JobsEnded) + counts.ConvertingShare;
    if (done < kLeastWorkForEstimate)
        return line;
    const double elapsed = duration_cast<milliseconds>(now - counts.FirstStart).count();
    const double left = elapsed * (static_cast<double>(counts.Jobs) - done) / done;
    return line + ", " + MinutesAndSeconds(milliseconds(static_cast<int64_t>(left))) + " left";
}

TProgressDisplay::TProgressDisplay(std::FILE* err, TDisplayMode mode, milliseconds reportInterval,
                                   std::function<size_t()> columns,
                                   std::function<Clock::time_point()> now)
    : err_(err),
      mode_(mode),
      reportInterval_(reportInterval),
      columns_(std::move(columns)),
      now_(std::move(now))
{
}

std::string TProgressDisplay::Fitted(const std::string& line) const
{
    // One column spare: a line that fills the last one wraps on some terminals.
    const size_t columns = columns_ ? columns_() : 80;
    return CutToWidth(line, columns > 1 ? columns - 1 : 1);
}

void TProgressDisplay::EraseLiveLines()
{
    if (liveLines_ > 0)
        std::fprintf(err_, "\x1b[%dA\x1b[J", liveLines_);
    liveLines_ = 0;
}

void TProgressDisplay::DrawLiveLines(TBatchProgress& progress, Clock::time_point now)
{
    const std::vector<TFileStatus> converting = progress.ConvertingFiles();
    for (size_t i = 0; i < converting.size() && i < kMaxFileLines; ++i) {
        std::fprintf(err_, "%s\n",
                     Fitted(ProgressLine(converting[i], now, reportInterval_)).c_str());
        ++liveLines_;
    }
    std::string counts = CountsLine(progress.Counts(), now);
    if (converting.size() > kMaxFileLines)
        counts += ", " + std::to_string(converting.size() - kMaxFileLines) + " more converting";
    std::fprintf(err_, "%s\n", Fitted(counts).c_str());
    ++liveLines_;
    lastDraw_ = now;
}

void TProgressDisplay::Update(TBatchProgress& progress, const std::vector<TFileStatus>& ended,
                              bool last)
{
    const std::vector<TLogLine> lines = progress.TakeLogLines(last ? milliseconds(0) : kShowSettle);
    const Clock::time_point now = now_();
    const bool live = mode_ == TDisplayMode::Live;
    const bool redraw =
        live && (!lines.empty() || !ended.empty() || now - lastDraw_ >= kRedrawInterval);
    if (redraw)
        EraseLiveLines();
    for (const TLogLine& line : lines)
        std::fprintf(err_, "%s\n", LogLineText(line).c_str());
    for (const TFileStatus& status : ended) {
        // A resumed batch skips most of its files: they are counted, not listed.
        if (status.State == TFileState::Skipped ||
            (mode_ == TDisplayMode::Quiet && status.State != TFileState::Failed))
            continue;
        std::fprintf(err_, "%s\n", EndedLine(status).c_str());
    }
    if (redraw)
        DrawLiveLines(progress, now);
    std::fflush(err_);
}

void TProgressDisplay::Finish()
{
    EraseLiveLines();
    std::fflush(err_);
}

}  // namespace kelvaro::cli
