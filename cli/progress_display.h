#pragma once
// Shows a batch on the console from the main thread. On a terminal: one line per converting
// file (percentage, elapsed time, speed as a multiple of real time), redrawn in place below
// the lines of the files that ended. Otherwise: one line per file as it ends. Library
// messages go to the error stream.

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "cli/batch_progress.h"

namespace kelvaro::cli {

using Clock = std::chrono::steady_clock;

// " 42%  0:12  3.1x  song.mp3". The job started about one report interval before its
// first report, which is when the line first appears.
std::string ProgressLine(const TFileStatus& status, Clock::time_point now,
                         std::chrono::milliseconds reportInterval);
// "done     song.mp3 -> /out/song.wma", "failed   song.mp3: reason",
// "stopped  song.mp3 (no output kept)" or "stopped  song.mp3 -> /out/song.wma (partial)".
std::string EndedLine(const TFileStatus& status);
std::string LogLineText(const TLogLine& line);

class TProgressDisplay final {
public:
    TProgressDisplay(std::FILE* out, std::FILE* err, bool terminal,
                     std::chrono::milliseconds reportInterval,
                     std::function<Clock::time_point()> now = Clock::now);

    // Prints what happened since the last call.
    void Update(TBatchProgress& progress);
    // Takes the in-place lines away, so that what follows starts on a clean line.
    void Finish();

private:
    void EraseLiveLines();

    std::FILE* out_;
    std::FILE* err_;
    bool terminal_;
    std::chrono::milliseconds reportInterval_;
    std::function<Clock::time_point()> now_;
    int liveLines_ = 0;
    Clock::time_point lastDraw_{};
};

}  // namespace kelvaro::cli
