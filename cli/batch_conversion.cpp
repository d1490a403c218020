#include "cli/batch_conversion.h"

#include <atomic>
#include <filesystem>
#include <vector>

#include "cli/batch_progress.h"
#include "cli/progress_display.h"
#include "cli/summary.h"
#include "converter/app_folders.h"
#include "converter/av_converter.h"
#include "engine/ffmpeg_exception.h"
#include "medialib/media_loader.h"

namespace kelvaro::cli {
namespace {

namespace fs = std::filesystem;

constexpr std::chrono::milliseconds kReportInterval{250};
constexpr std::chrono::milliseconds kPollInterval{100};

struct TBatchJobs {
    // Written before the run, read by the events: no lock needed.
    std::vector<std::string> outputOfJob;

    // Empty for an index the run never had.
    std::string OutputOf(int32_t index) const
    {
        return index >= 0 && static_cast<size_t>(index) < outputOfJob.size()
                   ? outputOfJob[static_cast<size_t>(index)]
                   : std::string();
    }
};

// Adds a job per file; a file that cannot be converted is recorded with its reason.
TBatchJobs AddJobs(TLumoAVConverter& converter, TBatchProgress& progress,
                   const TCommandLine& command, const std::string& folder)
{
    TBatchJobs jobs;
    TOutputClaims claims(command.Files);
    for (const std::string& input : command.Files) {
        const std::string output = OutputFileName(folder, input, TargetExtension(command.Format));
        const int file = progress.AddFile(input, output);
        if (const std::string conflict = claims.Claim(input, output); !conflict.empty()) {
            progress.Reject(file, conflict);
            continue;
        }

        std::string jobFolder = folder;
        const TConversionJob job =
            AddConversionJob(converter, input, command.Format, jobFolder, command.OptionText);
        if (job.Index < 0) {
            progress.Reject(file, converter.LastError());
            continue;
        }
        progress.BindJob(job.Index, file);
        jobs.outputOfJob.push_back(job.OutputFileName);
        // The job stays without an output: the converter reports it as failed at its turn.
        if (!job.OutputSet)
            progress.Reject(file, converter.LastError());
    }
    return jobs;
}

}  // namespace

int RunBatch(const TCommandLine& command, const TConsole& console,
             const std::function<bool()>& interrupted)
{
    const std::string folder = FolderWithSeparator(
        command.OutputFolder.empty() ? DefaultOutputFolder(AppFoldersFromEnvironment())
                                     : command.OutputFolder);
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        std::fprintf(console.err, "kelvaro: cannot create the output folder %s: %s\n",
                     folder.c_str(), error.message().c_str());
        return kExitFailed;
    }

    TBatchProgress progress;
    std::atomic<bool> stopping{false};
    TBatchJobs jobs;
    // Declared last: destroyed first, while what its handlers use still exists. Every run
    // is on worker threads (ParallelJobs is at least 1), so it needs no main-thread scheduler.
    TLumoAVConverter converter;
    converter.SetLogLevel(command.LogLevel);
    converter.SetProgressInterval(static_cast<int32_t>(kReportInterval.count()));
    if (!converter.LoadLibraries(ProgramLibraryFolder(), true)) {
        std::fprintf(console.err, "kelvaro: %s\n", converter.LastError().c_str());
        return kExitFailed;
    }

    // The handlers run on worker threads: they only record.
    // The engine hands its information lines to the handler whenever it is not quiet.
    converter.SetOnLog(
        [&, shown = command.LogLevel](int32_t index, TLogLevel level, const std::string& text) {
            if (level <= shown)
                progress.Log(index, level, text);
        });
    converter.SetOnProgress([&](int32_t index, int32_t, int32_t, int32_t position, float, float,
                                int64_t,
                                int32_t total) { progress.JobProgress(index, position, total); });
    converter.SetOnTerminate([&](int32_t index, bool finished) {
        if (index < 0) {
            progress.RunEnded();
            return;
        }
        const std::string reason = converter.JobError(index);
        if (finished) {
            std::error_code sizeError;
            const auto size = fs::file_size(jobs.OutputOf(index), sizeError);
            // A warning rides as the reason of a file that is done.
            if (!sizeError && size > 0)
                progress.JobEnded(index, TFileState::Done, converter.JobWarning(index));
            else
                progress.JobEnded(index, TFileState::Failed, "no output was written");
        } else if (!reason.empty()) {
            progress.JobEnded(index, TFileState::Failed, reason);
        } else if (stopping) {
            progress.JobEnded(index, TFileState::Stopped, {});
        } else {
            progress.JobEnded(index, TFileState::Failed, "the conversion ended early");
        }
    });

    jobs = AddJobs(converter, progress, command, folder);
    try {
        converter.Start(ParallelJobs(command.Jobs));
    } catch (const FFMpegException&) {
        // A first job without an output: reported through its termination, and the run goes
        // on with the next.
    }

    TProgressDisplay display(console.out, console.err, console.terminal, kReportInterval);
    bool wasInterrupted = false;
    while (!progress.Ended()) {
        if (interrupted()) {
            wasInterrupted = true;
            break;
        }
        display.Update(progress);
        progress.WaitForChange(kPollInterval);
    }
    if (wasInterrupted) {
        stopping = true;
        display.Update(progress);
        display.Finish();
        std::fprintf(console.err, "kelvaro: stopping; files being converted are closed first\n");
        converter.Stop();
    }
    // Waits for every worker: a stopped file still gets its trailer.
    converter.Clear();
    display.Update(progress);
    display.Finish();

    const std::vector<TFileStatus> files = progress.Files();
    std::fputs(SummaryText(files, wasInterrupted).c_str(), console.out);
    std::fflush(console.out);
    return ExitStatus(files, wasInterrupted);
}

}  // namespace kelvaro::cli
