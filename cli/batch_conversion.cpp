#include "cli/batch_conversion.h"

#include <atomic>
#include <filesystem>
#include <vector>

#include "cli/batch_progress.h"
#include "cli/progress_display.h"
#include "cli/summary.h"
#include "converter/app_folders.h"
#include "converter/av_converter.h"
#include "medialib/media_loader.h"

namespace kelvaro::cli {
namespace {

namespace fs = std::filesystem;

constexpr std::chrono::milliseconds kReportInterval{250};
constexpr std::chrono::milliseconds kPollInterval{100};

// Adds a job per file; a file that cannot be converted is recorded with its reason. Nothing
// is opened here: each job opens its files when its turn comes.
void AddJobs(TLumoAVConverter& converter, TBatchProgress& progress, const TCommandLine& command,
             const std::string& folder)
{
    TOutputClaims claims(command.Files);
    for (const std::string& input : command.Files) {
        const std::string output = OutputFileName(folder, input, TargetExtension(command.Format));
        const int file = progress.AddFile(input, output);
        if (const std::string conflict = claims.Claim(input, output); !conflict.empty()) {
            progress.Reject(file, conflict);
            continue;
        }
        const int32_t index = converter.AddJob(
            input, ConversionSetUp(input, command.Format, output, command.OptionText));
        if (index < 0) {
            progress.Reject(file, converter.LastError());
            continue;
        }
        progress.BindJob(index, file);
    }
}

}  // namespace

int RunBatch(const TCommandLine& command, const TConsole& console,
             const std::function<int()>& interruptSignal)
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
    // Declared last: destroyed first, while what its handlers use still exists. Every run
    // is on worker threads (ParallelJobs is at least 1), so it needs no main-thread scheduler.
    TLumoAVConverter converter;
    converter.SetLogLevel(command.LogLevel);
    converter.SetProgressInterval(static_cast<int32_t>(kReportInterval.count()));
    // A stopped file is a half-made target: it goes, as build tools remove theirs.
    converter.SetKeepStoppedOutputs(command.KeepPartial);
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
            const auto size = fs::file_size(progress.OutputOfJob(index), sizeError);
            // A warning rides as the reason of a file that is done.
            if (!sizeError && size > 0)
                progress.JobEnded(index, TFileState::Done, converter.JobWarning(index));
            else
                progress.JobEnded(index, TFileState::Failed, "no output was written");
        } else if (!reason.empty())
            progress.JobEnded(index, TFileState::Failed, reason);
        else if (stopping)
            progress.JobEnded(index, TFileState::Stopped, {}, converter.StoppedOutputKept(index));
        else
            progress.JobEnded(index, TFileState::Failed, "the conversion ended early");
    });

    AddJobs(converter, progress, command, folder);
    converter.Start(ParallelJobs(command.Jobs));

    TProgressDisplay display(console.out, console.err, console.terminal, kReportInterval);
    int signal = 0;
    while (!progress.Ended()) {
        if ((signal = interruptSignal()) != 0)
            break;
        display.Update(progress);
        progress.WaitForChange(kPollInterval);
    }
    if (signal != 0) {
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
    std::fputs(SummaryText(files, signal != 0).c_str(), console.out);
    std::fflush(console.out);
    return ExitStatus(files, signal);
}

}  // namespace kelvaro::cli
