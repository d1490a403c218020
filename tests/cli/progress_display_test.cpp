#include "cli/progress_display.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <memory>

#include "cli/batch_progress.h"
#include "cli/summary.h"

namespace kelvaro::cli {
namespace {

using namespace std::chrono_literals;

TFileStatus Status(TFileState state, const std::string& reason = {})
{
    TFileStatus status;
    status.Input = "/music/song.mp3";
    status.Output = "/out/song.wma";
    status.State = state;
    status.Reason = reason;
    return status;
}

TEST(ProgressText, LineShowsPercentElapsedAndSpeed)
{
    TFileStatus status = Status(TFileState::Converting);
    const Clock::time_point start{};
    status.FirstReport = start + 500ms;
    status.LastReport = start + 1500ms;
    status.PositionMs = 30000;
    status.TotalMs = 120000;
    // Started about one report interval (500 ms) before the first report.
    EXPECT_EQ(ProgressLine(status, start + 62s, 500ms), " 25%  1:02  20.0x  song.mp3");

    status.TotalMs = -1;
    EXPECT_EQ(ProgressLine(status, start + 2s, 500ms), " --%  0:02  20.0x  song.mp3");
    status.TotalMs = 0;
    EXPECT_EQ(ProgressLine(status, start + 2s, 500ms).substr(0, 4), " --%") << "no division";
    status.TotalMs = 1000;
    EXPECT_EQ(ProgressLine(status, start + 2s, 500ms).substr(0, 4), "100%") << "clamped";
}

TEST(ProgressText, EndedLinesAndLogLines)
{
    EXPECT_EQ(EndedLine(Status(TFileState::Done)), "done     /music/song.mp3 -> /out/song.wma");
    EXPECT_EQ(EndedLine(Status(TFileState::Failed, "bad data")),
              "failed   /music/song.mp3: bad data");
    TFileStatus stopped = Status(TFileState::Stopped);
    EXPECT_EQ(EndedLine(stopped), "stopped  /music/song.mp3 (no output kept)");
    stopped.OutputKept = true;
    EXPECT_EQ(EndedLine(stopped), "stopped  /music/song.mp3 -> /out/song.wma (partial)");
    EXPECT_EQ(LogLineText({"/music/song.mp3", llError, "oops\r\n"}), "song.mp3: oops");
    EXPECT_EQ(LogLineText({"", llInfo, "library line"}), "library line");
}

TEST(Summary, ListsEveryFileWithTheReasonOfEachFailure)
{
    const std::vector<TFileStatus> files = {
        Status(TFileState::Done), Status(TFileState::Failed, "no such file"),
        Status(TFileState::Done, "the input ended at 9.1 s of 30.0 s")};
    EXPECT_EQ(SummaryText(files, false),
              "Summary: 3 files: 1 done, 1 done with a warning, 1 failed\n"
              "  done     /music/song.mp3 -> /out/song.wma\n"
              "  failed   /music/song.mp3\n"
              "           reason: no such file\n"
              "  done     /music/song.mp3 -> /out/song.wma\n"
              "           warning: the input ended at 9.1 s of 30.0 s\n");
    EXPECT_EQ(ExitStatus(files, 0), 1);
    EXPECT_EQ(ExitStatus({Status(TFileState::Done)}, 0), 0);
    EXPECT_EQ(ExitStatus({Status(TFileState::Done, "12 decoding errors")}, 0), 1)
        << "not a plain success";
    EXPECT_EQ(ExitStatus({Status(TFileState::Done)}, SIGINT), 130);
    EXPECT_EQ(ExitStatus({Status(TFileState::Done)}, SIGTERM), 143);
}

TEST(Summary, FilesThatNeverEndedAreStoppedAfterAnInterruptAndFailedOtherwise)
{
    const std::vector<TFileStatus> files = {Status(TFileState::Waiting),
                                            Status(TFileState::Converting)};
    EXPECT_EQ(SummaryText(files, true),
              "Summary: 2 files: 0 done, 0 failed, 2 stopped\n"
              "  stopped  /music/song.mp3 (no output kept)\n"
              "  stopped  /music/song.mp3 (no output kept)\n");
    EXPECT_NE(SummaryText(files, false).find("reason: the file was not converted"),
              std::string::npos);
    EXPECT_EQ(ExitStatus(files, 0), 1);
}

TEST(BatchProgress, TheRunEndsWhenEveryJobHasEndedOrTheConverterSaysSo)
{
    TBatchProgress progress;
    const int a = progress.AddFile("a.mp3", "/out/a.wma");
    const int b = progress.AddFile("b.mp3", "/out/b.wma");
    const int c = progress.AddFile("c.mp3", "/out/c.wma");
    progress.Reject(a, "a.mp3: no such file or directory");
    progress.BindJob(0, b);
    progress.BindJob(1, c);
    progress.Reject(c, "Unknown output format");  // the job stays without its output
    EXPECT_FALSE(progress.Ended());

    progress.JobProgress(0, 1000, 4000);
    EXPECT_EQ(progress.Files()[1].State, TFileState::Converting);
    progress.JobEnded(0, TFileState::Done, {});
    progress.JobEnded(1, TFileState::Failed, "Must supply at least one output file");
    EXPECT_TRUE(progress.Ended());
    EXPECT_EQ(progress.TakeEnded(), (std::vector<int>{b, c}));
    EXPECT_TRUE(progress.TakeEnded().empty());
    EXPECT_EQ(progress.Files()[2].Reason, "Unknown output format") << "the first reason stays";

    TBatchProgress told;
    told.BindJob(0, told.AddFile("a.mp3", "/out/a.wma"));
    told.RunEnded();
    EXPECT_TRUE(told.Ended());
}

TEST(BatchProgress, LogLinesBeyondTheLimitAreCountedNotKept)
{
    TBatchProgress progress;
    progress.BindJob(0, progress.AddFile("/music/a.mp3", "/out/a.wma"));
    for (size_t i = 0; i < TBatchProgress::kMaxPendingLines + 5; ++i)
        progress.Log(0, llInfo, "line");
    const std::vector<TLogLine> lines = progress.TakeLogLines();
    ASSERT_EQ(lines.size(), TBatchProgress::kMaxPendingLines + 1);
    EXPECT_EQ(lines.front().File, "/music/a.mp3");
    EXPECT_EQ(lines.back().Text, "5 more lines were dropped");
    EXPECT_TRUE(progress.TakeLogLines().empty());
}

struct CloseFile {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string Contents(std::FILE* file)
{
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char buffer[256];
    while (const size_t read = std::fread(buffer, 1, sizeof buffer, file))
        text.append(buffer, read);
    return text;
}

TEST(ProgressDisplay, WithoutATerminalOnlyEndedFilesArePrinted)
{
    std::unique_ptr<std::FILE, CloseFile> out(std::tmpfile()), err(std::tmpfile());
    TBatchProgress progress;
    progress.BindJob(0, progress.AddFile("/music/a.mp3", "/out/a.wma"));
    progress.BindJob(1, progress.AddFile("/music/b.mp3", "/out/b.wma"));
    TProgressDisplay display(out.get(), err.get(), false, 500ms);
    progress.JobProgress(0, 1000, 4000);
    progress.Log(1, llError, "decoding trouble");
    display.Update(progress);
    progress.JobEnded(0, TFileState::Done, {});
    display.Update(progress);
    display.Finish();
    EXPECT_EQ(Contents(out.get()), "done     /music/a.mp3 -> /out/a.wma\n");
    EXPECT_EQ(Contents(err.get()), "b.mp3: decoding trouble\n");
}

TEST(ProgressDisplay, OnATerminalRunningFilesAreRedrawnInPlace)
{
    std::unique_ptr<std::FILE, CloseFile> out(std::tmpfile()), err(std::tmpfile());
    Clock::time_point now{};
    TBatchProgress progress([&] { return now; });
    progress.BindJob(0, progress.AddFile("/music/a.mp3", "/out/a.wma"));
    progress.BindJob(1, progress.AddFile("/music/b.mp3", "/out/b.wma"));
    TProgressDisplay display(out.get(), err.get(), true, 500ms, [&] { return now; });
    now += 1s;
    progress.JobProgress(0, 5000, 10000);
    progress.JobProgress(1, 0, 10000);
    display.Update(progress);
    now += 50ms;
    display.Update(progress);  // too soon to redraw
    now += 100ms;
    progress.JobEnded(1, TFileState::Stopped, {});
    display.Update(progress);
    display.Finish();
    EXPECT_EQ(Contents(out.get()),
              " 50%  0:00  10.0x  a.mp3\n"
              "  0%  0:00   0.0x  b.mp3\n"
              "\x1b[2A\x1b[J"
              "stopped  /music/b.mp3 (no output kept)\n"
              " 50%  0:00  10.0x  a.mp3\n"
              "\x1b[1A\x1b[J");
}

}  // namespace
}  // namespace kelvaro::cli
