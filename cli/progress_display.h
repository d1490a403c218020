#pragma once
// Shows a batch on standard error from the main thread. On a terminal that can redraw: the
// line of each ended file, and below them the converting files and a line of counts with
// the time left, redrawn in place and cut to the terminal's width. Otherwise: the line of
// each ended file. Quiet: the failures only. Skipped files are only counted. Library
// messages come in between.

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/batch_progress.h"

namespace kelvaro::cli {

using Clock = std::chrono::steady_clock;

enum class TDisplayMode { Live, Lines, Quiet };

// " 42%  0:12  3.1x  song.mp3". The job started about one report interval before its
// first report, which is when the line first appears.
std::string ProgressLine(const TFileStatus& status, Clock::time_point now,
                         std::chrono::milliseconds reportInterval);
// "done     song.mp3 -> /out/song.wma" (with " (warning: ...)" for a file done with one),
// "failed   song.mp3: reason", "skipped  song.mp3: reason", "stopped  song.mp3 (no output
// kept)" or "stopped  song.mp3 -> /out/song.wma (partial)".
std::string EndedLine(const TFileStatus& status);
std::string LogLineText(const TLogLine& line);
// "12/340 files, 1 failed, 0:42 left"; "12/340+ files" while the list is still read.
std::string CountsLine(const TBatchCounts& counts, Clock::time_point now);

// `text` with every control character (a newline in a file name) shown as '?', so that one
// name stays one line.
std::string Printable(std::string_view text);
// Columns that UTF-8 `text` takes on a terminal: wide East Asian characters take two,
// combining marks none, anything else (invalid bytes too) one.
size_t DisplayWidth(std::string_view text);
// `text` cut to at most `columns` columns, on a character boundary.
std::string CutToWidth(std::string_view text, size_t columns);

class TProgressDisplay final {
public:
    // `columns` answers the terminal's width when a live display is drawn.
    TProgressDisplay(std::FILE* err, TDisplayMode mode, std::chrono::milliseconds reportInterval,
                     std::function<size_t()> columns = {},
                     std::function<Clock::time_point()> now = Clock::now);

    // Prints what happened since the last call: the log lines, then `ended`, the files that
    // ended meanwhile (taken with the same settling time). Log lines wait kShowSettle, except
    // for the `last` update.
    void Update(TBatchProgress& progress, const std::vector<TFileStatus>& ended, bool last = false);
    // Takes the in-place lines away, so that what follows starts on a clean line.
    void Finish();

private:
    void EraseLiveLines();
    void DrawLiveLines(TBatchProgress& progress, Clock::time_point now);
    std::string Fitted(const std::string& line) const;

    std::FILE* err_;
    TDisplayMode mode_;
    std::chrono::milliseconds reportInterval_;
    std::function<size_t()> columns_;
    std::function<Clock::time_point()> now_;
    int liveLines_ = 0;
    Clock::time_point lastDraw_{};
};

}  // namespace kelvaro::cli
