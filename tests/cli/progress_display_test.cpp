#include "cli/progress_display.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <memory>

#include "cli/batch_progress.h"
#include "cli/run_report.h"
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

TEST(ProgressText, EndedLinesAndLogLinesKeepOneNamePerLine)
{
    EXPECT_EQ(EndedLine(Status(TFileState::Done)), "done     /music/song.mp3 -> /out/song.wma");
    EXPECT_EQ(EndedLine(Status(TFileState::Failed, "bad data")),
              "failed   /music/song.mp3: bad data");
    EXPECT_EQ(EndedLine(Status(TFileState::Skipped, "its output exists")),
              "skipped  /music/song.mp3: its output exists");
    TFileStatus stopped = Status(TFileState::Stopped);
    EXPECT_EQ(EndedLine(stopped), "stopped  /music/song.mp3 (no output kept)");
    stopped.OutputKept = true;
    EXPECT_EQ(EndedLine(stopped), "stopped  /music/song.mp3 -> /out/song.wma (partial)");
    stopped.Input = "/music/two\nlines\t.mp3";
    EXPECT_EQ(EndedLine(stopped), "stopped  /music/two?lines?.mp3 -> /out/song.wma (partial)");
    EXPECT_EQ(LogLineText({"/music/song.mp3", llError, "oops\r\n"}), "song.mp3: oops");
    EXPECT_EQ(LogLineText({"", llInfo, "library\x1b[2Jline"}), "library?[2Jline");
}

TEST(ProgressText, LinesAreCutToTheTerminalByWhatTheyShow)
{
    EXPECT_EQ(DisplayWidth("abc"), 3u);
    EXPECT_EQ(DisplayWidth("ünï"), 3u) << "two bytes, one column each";
    EXPECT_EQ(DisplayWidth("日本"), 4u) << "wide characters take two";
    EXPECT_EQ(DisplayWidth("e\xcc\x81"), 1u) << "a combining accent takes none";
    EXPECT_EQ(DisplayWidth("\xff\xfe"), 2u) << "invalid bytes take one each";
    EXPECT_EQ(CutToWidth("abcdef", 4), "abcd");
    EXPECT_EQ(CutToWidth("aü日本", 4), "aü日") << "never half a character";
    EXPECT_EQ(CutToWidth("aü日本", 3), "aü");
    EXPECT_EQ(CutToWidth("ab", 10), "ab");
}

TEST(ProgressText, CountsGiveFilesDoneOfTotalAndTheTimeLeft)
{
    TBatchCounts counts;
    counts.Listed = 10;
    counts.InState[static_cast<size_t>(TFileState::Done)] = 3;
    counts.InState[static_cast<size_t>(TFileState::Failed)] = 1;
    counts.InState[static_cast<size_t>(TFileState::Converting)] = 2;
    counts.InState[static_cast<size_t>(TFileState::Waiting)] = 4;
    counts.Jobs = 10;
    counts.JobsEnded = 4;
    const Clock::time_point start{};
    EXPECT_EQ(CountsLine(counts, start + 50s), "4/10+ files, 1 failed") << "still listing";
    counts.ListEnded = true;
    counts.AnyStarted = true;
    counts.FirstStart = start;
    counts.ConvertingShare = 1.0;  // two halves
    // 5 files' worth in 50 s: 5 more take 50 s.
    EXPECT_EQ(CountsLine(counts, start + 50s), "4/10 files, 1 failed, 0:50 left");
}

TEST(Summary, GivesTheCountsThenOnlyTheFilesThatFailedOrStopped)
{
    TFileStatus stopped = Status(TFileState::Stopped);
    const std::vector<TFileStatus> files = {
        Status(TFileState::Done), Status(TFileState::Failed, "no such file"),
        Status(TFileState::Skipped, "its output exists"), stopped, Status(TFileState::Done)};
    EXPECT_EQ(SummaryText(files, false),
              "Summary: 5 files: 2 done, 1 failed, 1 stopped, 1 skipped\n"
              "  failed   /music/song.mp3\n"
              "           reason: no such file\n"
              "  stopped  /music/song.mp3 (no output kept)\n");
    EXPECT_EQ(SummaryText({files[0], files[2]}, false, TSummaryScope::Full),
              "Summary: 2 files: 1 done, 0 failed, 1 skipped\n"
              "  done     /music/song.mp3 -> /out/song.wma\n"
              "  skipped  /music/song.mp3: its output exists\n");
    EXPECT_EQ(ExitStatus(files, 0), 1);
    EXPECT_EQ(ExitStatus({files[0], files[2]}, 0), 0) << "skipped counts as converted";
    const TFileStatus warned = Status(TFileState::Done, "the input ended at 9.1 s of 30.0 s");
    EXPECT_EQ(SummaryText({files[0], warned}, false),
              "Summary: 2 files: 1 done, 1 done with a warning, 0 failed\n"
              "  done     /music/song.mp3 -> /out/song.wma\n"
              "           warning: the input ended at 9.1 s of 30.0 s\n");
    EXPECT_EQ(ExitStatus({files[0], warned}, 0), 1) << "not a plain success";
    EXPECT_EQ(ReportLine(warned, false),
              "/music/song.mp3\t/out/song.wma\twarning\t0.000\t0.000\tthe input ended at 9.1 s "
              "of 30.0 s");
    EXPECT_EQ(ExitStatus({files[0]}, SIGINT), 130);
    EXPECT_EQ(ExitStatus({files[0]}, SIGTERM), 143);

    const std::vector<TFileStatus> unended = {Status(TFileState::Waiting),
                                              Status(TFileState::Converting)};
    EXPECT_EQ(SummaryText(unended, true),
              "Summary: 2 files: 0 done, 0 failed, 2 stopped\n"
              "  stopped  /music/song.mp3 (no output kept)\n"
              "  stopped  /music/song.mp3 (no output kept)\n");
    EXPECT_NE(SummaryText(unended, false).find("reason: the file was not converted"),
              std::string::npos);
}

TEST(RunReport, OneLineOfSixTabSeparatedFieldsPerFile)
{
    EXPECT_EQ(ReportField("a\tb\nc\\d\re"), "a\\tb\\nc\\\\d\\re");
    TFileStatus done = Status(TFileState::Done);
    done.PositionMs = 61250;
    done.Started = true;
    done.StartTime = Clock::time_point{} + 1s;
    done.EndTime = Clock::time_point{} + 3500ms;
    EXPECT_EQ(ReportLine(done, false), "/music/song.mp3\t/out/song.wma\tdone\t61.250\t2.500\t");
    TFileStatus failed = Status(TFileState::Failed, "bad\tdata");
    failed.Input = "/music/new\nline.mp3";
    EXPECT_EQ(ReportLine(failed, false),
              "/music/new\\nline.mp3\t/out/song.wma\tfailed\t0.000\t0.000\tbad\\tdata");
    EXPECT_EQ(ReportLine(Status(TFileState::Converting), true),
              "/music/song.mp3\t/out/song.wma\tstopped\t0.000\t0.000\t");
    EXPECT_EQ(ReportLine(Status(TFileState::Skipped, "its output exists"), false),
              "/music/song.mp3\t/out/song.wma\tskipped\t0.000\t0.000\tits output exists");
}

TEST(BatchProgress, TheBatchEndsOnceListedAndEveryJobHasEndedOrTheConverterSaysSo)
{
    TBatchProgress progress;
    const int a = progress.AddFile("a.mp3", "/out/a.wma");
    const int b = progress.AddFile("b.mp3", "/out/b.wma");
    const int c = progress.AddFile("c.mp3", "/out/c.wma");
    const int d = progress.AddFile("d.mp3", "/out/d.wma");
    progress.Reject(a, "a.mp3: no such file or directory");
    progress.BindJob(0, b);
    progress.BindJob(1, c);
    progress.BindJob(2, d);
    progress.UnbindJob(2);
    progress.Skip(d, "its output exists");
    progress.Reject(c, "Unknown output format");  // the job stays without its output

    progress.JobProgress(0, 1000, 4000);
    EXPECT_EQ(progress.Files()[1].State, TFileState::Converting);
    EXPECT_EQ(progress.Counts().Count(TFileState::Converting), 1u);
    EXPECT_DOUBLE_EQ(progress.Counts().ConvertingShare, 0.25);
    progress.JobEnded(0, TFileState::Done, {});
    progress.JobEnded(1, TFileState::Failed, "Must supply at least one output file");
    EXPECT_FALSE(progress.Ended()) << "more files may still be listed";
    progress.EndList();
    EXPECT_TRUE(progress.Ended());
    EXPECT_EQ(progress.TakeEnded(), (std::vector<int>{a, d, c, b}));
    EXPECT_TRUE(progress.TakeEnded().empty());
    EXPECT_EQ(progress.Files()[c].Reason, "Unknown output format") << "the first reason stays";
    const TBatchCounts counts = progress.Counts();
    EXPECT_EQ(counts.Count(TFileState::Failed), 2u);
    EXPECT_EQ(counts.Count(TFileState::Skipped), 1u);
    EXPECT_EQ(counts.Count(TFileState::Done), 1u);
    EXPECT_EQ(counts.Ended(), 4u);

    TBatchProgress told;
    told.BindJob(0, told.AddFile("a.mp3", "/out/a.wma"));
    told.EndList();
    told.RunEnded();
    EXPECT_TRUE(told.Ended());
}

TEST(BatchProgress, LinesSettleSoThatAFailureDropsItsOwnLineAndComesAfterTheOthers)
{
    Clock::time_point now{};
    TBatchProgress progress([&] { return now; });
    progress.BindJob(0, progress.AddFile("/music/a.mp3", "/out/a.wma"));
    progress.Log(0, llError, "[mp3 @ 0]header trouble");
    progress.Log(0, llError, "/music/a.mp3: Error while parsing header");
    EXPECT_TRUE(progress.TakeLogLines(50ms).empty()) << "too young";
    now += 10ms;
    progress.JobEnded(0, TFileState::Failed, "/music/a.mp3: Error while parsing header");
    EXPECT_TRUE(progress.TakeEnded(50ms).empty());
    now += 50ms;
    const std::vector<TLogLine> lines = progress.TakeLogLines(50ms);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].Text, "[mp3 @ 0]header trouble");
    EXPECT_EQ(progress.TakeEnded(50ms), std::vector<int>{0});

    for (size_t i = 0; i < TBatchProgress::kMaxPendingLines + 5; ++i)
        progress.Log(0, llInfo, "line");
    const std::vector<TLogLine> many = progress.TakeLogLines();
    ASSERT_EQ(many.size(), TBatchProgress::kMaxPendingLines + 1);
    EXPECT_EQ(many.front().File, "/music/a.mp3");
    EXPECT_EQ(many.back().Text, "5 more lines were dropped");
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

TEST(ProgressDisplay, WithoutATerminalEndedFilesAndMessagesArePlainLines)
{
    for (const TDisplayMode mode : {TDisplayMode::Lines, TDisplayMode::Quiet}) {
        std::unique_ptr<std::FILE, CloseFile> err(std::tmpfile());
        TBatchProgress progress;
        progress.BindJob(0, progress.AddFile("/music/a.mp3", "/out/a.wma"));
        progress.BindJob(1, progress.AddFile("/music/b.mp3", "/out/b.wma"));
        TProgressDisplay display(err.get(), mode, 500ms);
        progress.JobProgress(0, 1000, 4000);
        progress.Log(1, llError, "decoding trouble");
        display.Update(progress, {}, true);
        progress.JobEnded(0, TFileState::Done, {});
        display.Update(progress, {progress.File(0), Status(TFileState::Skipped, "exists"),
                                  Status(TFileState::Failed, "bad data")});
        display.Finish();
        EXPECT_EQ(Contents(err.get()),
                  std::string("b.mp3: decoding trouble\n") +
                      (mode == TDisplayMode::Lines ? "done     /music/a.mp3 -> /out/a.wma\n" : "") +
                      "failed   /music/song.mp3: bad data\n");
    }
}

TEST(ProgressDisplay, OnATerminalRunningFilesAndCountsAreRedrawnInPlaceWithinItsWidth)
{
    std::unique_ptr<std::FILE, CloseFile> err(std::tmpfile());
    Clock::time_point now{};
    TBatchProgress progress([&] { return now; });
    progress.BindJob(0, progress.AddFile("/music/a.mp3", "/out/a.wma"));
    progress.BindJob(1, progress.AddFile("/music/a long name.mp3", "/out/b.wma"));
    progress.EndList();
    TProgressDisplay display(
        err.get(), TDisplayMode::Live, 500ms, [] { return size_t{24}; }, [&] { return now; });
    now += 1s;
    progress.JobProgress(0, 5000, 10000);
    progress.JobProgress(1, 0, 10000);
    display.Update(progress, {});
    now += 50ms;
    display.Update(progress, {});  // too soon to redraw
    now += 100ms;
    progress.JobEnded(1, TFileState::Stopped, {});
    display.Update(progress, {progress.File(1)});
    display.Finish();
    EXPECT_EQ(Contents(err.get()),
              " 50%  0:00  10.0x  a.mp\n"
              "  0%  0:00   0.0x  a lo\n"
              "0/2 files\n"
              "\x1b[3A\x1b[J"
              "stopped  /music/a long name.mp3 (no output kept)\n"
              " 50%  0:00  10.0x  a.mp\n"
              "1/2 files\n"
              "\x1b[2A\x1b[J");
}

}  // namespace
}  // namespace kelvaro::cli
