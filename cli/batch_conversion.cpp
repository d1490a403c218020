#include "cli/batch_conversion.h"

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <vector>

#include "cli/batch_progress.h"
#include "cli/batch_inputs.h"
#include "cli/run_report.h"
#include "cli/summary.h"
#include "converter/av_converter.h"
#include "converter/failure_reason.h"
#include "medialib/log_levels.h"
#include "medialib/media_loader.h"

namespace kelvaro::cli {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr milliseconds kReportInterval{250};
constexpr milliseconds kPollInterval{100};
// How long the main thread lists files before it shows progress again.
constexpr milliseconds kListingSlice{20};

TLogLevel ComponentLevel(TMessageLevel level)
{
    switch (level) {
        case TMessageLevel::Quiet:
            return llQuiet;
        case TMessageLevel::Error:
        case TMessageLevel::Warning:
            return llError;
        case TMessageLevel::Info:
            return llInfo;
        case TMessageLevel::Debug:
            return llDebug;
        case TMessageLevel::All:
            return llAll;
    }
    return llError;
}

// A complete output of an earlier run: unfinished ones never have the output's name.
bool CompleteOutputExists(const std::string& output)
{
    struct stat status {};
    return ::stat(output.c_str(), &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0;
}

bool SameFile(const std::string& a, const std::string& b)
{
    std::error_code error;
    return fs::equivalent(a, b, error) && !error;
}

std::string OptionRefusal(TOptionUse use, TTargetFormat format,
                          const TConversionSettings& settings, const std::string& option)
{
    const std::string name = option.substr(0, option.find('='));
    static const char* const kTargets[] = {"", "video CD", "super video CD", "DVD", "DV", "DV50"};
    const TFormatInfo& info = FormatInfo(format);
    const std::string kind = settings.Target != TVideoTarget::None
                                 ? kTargets[static_cast<int>(settings.Target)]
                                 : info.Label;
    switch (use) {
        case TOptionUse::Taken:
            return {};
        case TOptionUse::NotTaken:
            return "--option " + name + ": no part of a " + kind +
                   " output takes an option of that name";
        case TOptionUse::BadValue:
            return "--option " + option + ": the option " + name + " does not take that value";
        case TOptionUse::BitRateFixed:
            return "--option " + name + ": the bit rate is the format's own setting" +
                   (info.BitRateRange.High > 0 ? "; choose it with --bitrate"
                    : info.Quality == TQualityKind::Vbr
                        ? "; choose the quality with --quality"
                        : "; " + kind + "'s follows its rate, channels and bits");
        case TOptionUse::SampleRateFixed:
            return "--option " + name +
                   ": the sample rate follows the input; choose it with --rate";
        case TOptionUse::ChannelsFixed:
            return "--option " + name +
                   ": the channels follow the input; choose them with --channels";
        case TOptionUse::SampleFormatFixed:
            return "--option " + name + ": the sample format is the format's own setting" +
                   (info.TakesBits ? "; choose " + kind + "'s size with --bits" : "");
    }
    return {};
}

// One run of the command line, on the main thread: files are listed and given their jobs
// while the converter works on the first ones; its handlers, on worker threads, only record
// into `progress_`, which the main thread shows.
class TBatch final {
public:
    TBatch(const TCommandLine& command, const TConsole& console)
        : command_(command), console_(console)
    {
    }

    int Run(const std::function<int()>& interruptSignal);

private:
    // The output folder, the list, the report and the options: an exit status when one of
    // them does not do.
    std::optional<int> Prepare();
    void ConnectHandlers();
    // Lists and converts until every file has ended, or a signal came: that signal, or 0.
    int Convert(const std::function<int()>& interruptSignal);
    // The summary, the report's end and the exit status.
    int Finish(int signal);
    bool LoadLibraries();
    std::string OutputOf(const TListedFile& file) const;
    // Adds the files of the list that come within a slice of time.
    void ListFiles();
    void Add(const TListedFile& file);
    void ShowEnded(bool interrupted, bool last = false);

    const TCommandLine& command_;
    const TConsole& console_;
    std::optional<TBatchInputs> list_;
    std::optional<TRunReport> report_;
    std::optional<TProgressDisplay> display_;
    TOutputClaims claims_;
    TBatchProgress progress_;
    std::atomic<bool> stopping_{false};
    bool librariesLoaded_ = false;
    bool failedToLoad_ = false;
    // Declared last: destroyed first, while what its handlers use still exists. Every run
    // is on worker threads (ParallelJobs is at least 1), so it needs no main-thread scheduler.
    TLumoAVConverter converter_;
};

bool TBatch::LoadLibraries()
{
    if (librariesLoaded_ || failedToLoad_)
        return librariesLoaded_;
    librariesLoaded_ = converter_.LoadLibraries(ProgramLibraryFolder(), true);
    if (!librariesLoaded_) {
        failedToLoad_ = true;
        std::fprintf(console_.err, "kelvaro: %s\n", converter_.LastError().c_str());
    }
    return librariesLoaded_;
}

std::string TBatch::OutputOf(const TListedFile& file) const
{
    const std::string extension = OutputExtension(command_.Format, command_.Settings);
    if (command_.OutputFolder.empty()) {
        const size_t slash = file.Path.rfind('/');
        const std::string folder = slash == std::string::npos ? "" : file.Path.substr(0, slash + 1);
        return OutputFileName(folder, file.Path, extension);
    }
    std::string folder = FolderWithSeparator(command_.OutputFolder);
    if (command_.KeepStructure) {
        const std::string below = fs::path(file.Relative).parent_path().string();
        if (!below.empty())
            folder += below + "/";
    }
    return OutputFileName(folder, file.Path, extension);
}

void TBatch::Add(const TListedFile& file)
{
    if (!file.Problem.empty()) {
        progress_.Reject(progress_.AddFile(file.Path, {}), file.Problem);
        return;
    }
    // Every file of a walked folder is an input before any output in it is claimed: a
    // sibling found later (track.wav beside track.mp3) is never written over.
    for (const std::string& met : list_->TakeMetInputs())
        if (!claims_.IsClaimedOutput(met))
            claims_.AddInput(met);
    const std::string output = OutputOf(file);
    // A walk meets this batch's own outputs, and files already in the target format where
    // their output would go: neither is a file to convert.
    if (file.Found && (claims_.IsClaimedOutput(file.Path) || SameFile(file.Path, output)))
        return;
    const int entry = progress_.AddFile(file.Path, output);
    std::string refusal = claims_.AddInput(file.Path);
    if (!refusal.empty()) {
        progress_.Reject(entry, refusal);
        return;
    }
    // Before the claim: an existing output that is itself an input of a walk is left alone
    // either way, and skipping says so more plainly.
    if (command_.SkipExisting && CompleteOutputExists(output)) {
        progress_.Skip(entry, "its output exists");
        return;
    }
    refusal = claims_.Claim(file.Path, output);
    if (!refusal.empty()) {
        progress_.Reject(entry, refusal);
        return;
    }
    if (!LoadLibraries()) {
        progress_.Reject(entry, converter_.LastError());
        return;
    }
    // The job may start, and raise its events, before AddJob returns.
    const int32_t index = converter_.JobCount();
    progress_.BindJob(index, entry);
    TJobSetUp setUp = [this, entry,
                       convert =
                           ConversionSetUp(file.Path, command_.Format, output, command_.OptionText,
                                           command_.Settings, command_.OutputFolder)](TFFmpegHlpr& job) {
        progress_.FileStarted(entry);
        return convert(job);
    };
    if (converter_.AddJob(file.Path, std::move(setUp)) < 0) {
        progress_.UnbindJob(index);
        progress_.Reject(entry, converter_.LastError());
    }
}

void TBatch::ListFiles()
{
    const auto start = std::chrono::steady_clock::now();
    bool added = false;
    while (!failedToLoad_ && std::chrono::steady_clock::now() - start < kListingSlice) {
        // Only an idle main thread waits for a list on a pipe.
        const std::optional<TListedFile> file =
            list_->Next(added ? milliseconds(0) : kPollInterval);
        if (!file)
            return;
        Add(*file);
        added = true;
    }
}

void TBatch::ShowEnded(bool interrupted, bool last)
{
    std::vector<TFileStatus> ended;
    for (const int file : progress_.TakeEnded(last ? milliseconds(0) : kShowSettle)) {
        ended.push_back(progress_.File(file));
        if (report_)
            report_->Write(file, ended.back(), interrupted);
    }
    display_->Update(progress_, ended, last);
}

std::optional<int> TBatch::Prepare()
{
    if (!command_.OutputFolder.empty()) {
        std::error_code error;
        fs::create_directories(command_.OutputFolder, error);
        if (error) {
            std::fprintf(console_.err, "kelvaro: cannot create the output folder %s: %s\n",
                         command_.OutputFolder.c_str(), error.message().c_str());
            return kExitFailed;
        }
    }
    try {
        list_.emplace(command_, command_.OutputFolder);
        if (!command_.ReportFile.empty())
            report_.emplace(command_.ReportFile);
    } catch (const std::exception& error) {
        std::fprintf(console_.err, "kelvaro: %s\n", error.what());
        return kExitFailed;
    }
    // Options are checked before anything converts; that needs the libraries now.
    if (command_.OptionText.empty())
        return std::nullopt;
    if (!LoadLibraries())
        return kExitFailed;
    for (const auto& [name, value] : SplitOptionText(command_.OptionText)) {
        const std::string refusal =
            OptionRefusal(ConversionOptionUse(command_.Format, command_.Settings, name, value),
                          command_.Format, command_.Settings, name + "=" + value);
        if (!refusal.empty()) {
            std::fprintf(console_.err, "kelvaro: %s\n", refusal.c_str());
            return kExitUsage;
        }
    }
    return std::nullopt;
}

void TBatch::ConnectHandlers()
{
    const TLogLevel shown = ComponentLevel(command_.LogLevel);
    LibraryWarningLevel = command_.LogLevel == TMessageLevel::Warning ? 0 : 1;
    converter_.SetLogLevel(shown);
    converter_.SetProgressInterval(static_cast<int32_t>(kReportInterval.count()));
    // A stopped file is a half-made target: it goes, as build tools remove theirs.
    converter_.SetKeepStoppedOutputs(command_.KeepPartial);
    // The handlers run on worker threads: they only record.
    // The engine hands its information lines to the handler whenever it is not quiet.
    converter_.SetOnLog([this, shown](int32_t index, TLogLevel level, const std::string& text) {
        if (level <= shown)
            progress_.Log(index, level, text);
    });
    converter_.SetOnProgress(
        [this](int32_t index, int32_t, int32_t, int32_t position, float, float, int64_t,
               int32_t total) { progress_.JobProgress(index, position, total); });
    converter_.SetOnTerminate([this](int32_t index, bool finished) {
        if (index < 0) {
            progress_.RunEnded();
            return;
        }
        const std::string output = progress_.OutputOfJob(index);
        const std::string reason =
            JobFailureReason(converter_, index, progress_.InputOfJob(index), output);
        if (finished) {
            // A warning rides as the reason of a file that is done; it says where an output
            // that did not replace an earlier file went.
            const std::string warning = converter_.JobWarning(index);
            if (CompleteOutputExists(output))
                progress_.JobEnded(index, TFileState::Done, warning);
            else
                progress_.JobEnded(index, TFileState::Failed, "no output was written");
        } else if (!reason.empty()) {
            progress_.JobEnded(index, TFileState::Failed, reason);
        } else if (stopping_) {
            progress_.JobEnded(index, TFileState::Stopped, {}, converter_.PartialOutput(index));
        } else {
            progress_.JobEnded(index, TFileState::Failed, "the conversion ended early");
        }
    });
}

int TBatch::Convert(const std::function<int()>& interruptSignal)
{
    // Files named at once are known before any job may write over one of them.
    for (const std::string& file : list_->KnownNames())
        claims_.AddInput(file);
    converter_.BeginRun(ParallelJobs(command_.Jobs));
    int signal = 0;
    bool listed = false;
    while ((signal = interruptSignal()) == 0) {
        if (!listed) {
            ListFiles();
            if (list_->Ended() || failedToLoad_) {
                listed = true;
                progress_.EndList();
                converter_.EndOfJobs();
            }
        }
        ShowEnded(false);
        if (listed && progress_.Ended())
            break;
        if (listed)
            progress_.WaitForChange(kPollInterval);
    }
    if (signal != 0) {
        stopping_ = true;
        ShowEnded(false);
        display_->Finish();
        std::fprintf(console_.err, "kelvaro: stopping; files being converted are closed first\n");
        converter_.Stop();
    }
    // Waits for every worker: a stopped file still gets its trailer.
    converter_.Clear();
    ShowEnded(signal != 0, true);
    display_->Finish();
    return signal;
}

int TBatch::Finish(int signal)
{
    const std::vector<TFileStatus> files = progress_.Files();
    if (!command_.Quiet)
        std::fputs(SummaryText(files, signal != 0, command_.Summary).c_str(), console_.out);
    std::fflush(console_.out);
    int status = ExitStatus(files, signal);
    std::string error;
    if (report_ && !report_->Finish(files, signal != 0, error)) {
        std::fprintf(console_.err, "kelvaro: %s\n", error.c_str());
        status = std::max(status, kExitFailed);
    }
    if (!list_->Error().empty()) {
        std::fprintf(console_.err, "kelvaro: %s\n", list_->Error().c_str());
        status = std::max(status, kExitFailed);
    }
    if (failedToLoad_)
        status = std::max(status, kExitFailed);
    if (const size_t special = list_->SkippedSpecialFiles(); special > 0)
        std::fprintf(console_.err,
                     "kelvaro: skipped %zu entr%s that %s not a regular file (FIFO, socket, "
                     "device)\n",
                     special, special == 1 ? "y" : "ies", special == 1 ? "is" : "are");
    // As cp -r complains: a run that found nothing to convert did not do what was asked.
    if (files.empty() && signal == 0) {
        std::fprintf(console_.err, "kelvaro: nothing to convert: no audio file was found\n");
        status = std::max(status, kExitFailed);
    }
    return status;
}

int TBatch::Run(const std::function<int()>& interruptSignal)
{
    if (const std::optional<int> refused = Prepare())
        return *refused;
    ConnectHandlers();
    display_.emplace(console_.err, console_.mode, kReportInterval, console_.columns);
    return Finish(Convert(interruptSignal));
}

}  // namespace

int RunBatch(const TCommandLine& command, const TConsole& console,
             const std::function<int()>& interruptSignal)
{
    TBatch batch(command, console);
    return batch.Run(interruptSignal);
}

}  // namespace kelvaro::cli
