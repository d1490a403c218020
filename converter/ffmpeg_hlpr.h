#pragma once
// The converter component's engine job: it knows its place in the component's list and the
// thread that runs it, and it applies blocks of "name=value" option lines.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/job.h"

namespace kelvaro {

// What the component keeps of a job's first input, read once when the input was opened: the
// library releases the input at the end of the run, this stays valid for the job's life.
struct TInputDescription {
    std::string FileName;
    int64_t Duration = INT64_MIN;  // microseconds; INT64_MIN when the input does not say
    int64_t Size = -1;             // bytes; -1 when unknown
    int32_t AudioChannels = 0;     // of the first audio stream; 0 without audio
    int32_t AudioSampleRate = 0;   // Hz, of the first audio stream
    int32_t AudioBits = 0;         // its exact sample size (PCM, lossless); 0 for lossy codecs
    bool HasVideo = false;         // a stream of pictures (an attached cover does not count)
};

class TFFmpegHlpr;

// Opens a job's files (its input, then its output) in a job that holds none, on the thread
// that runs the set-up. False, or FFMpegException, with the reason in the job's LastError.
using TJobSetUp = std::function<bool(TFFmpegHlpr& job)>;

class TFFmpegHlpr : public TCustomFFmpegHlpr {
public:
    // `codecLock` is the component's codec lock, shared by all of its jobs.
    explicit TFFmpegHlpr(std::mutex& codecLock);
    // Stops the job and waits for its worker before any of this class goes: the worker's
    // handlers read Index until the very end of its run.
    ~TFFmpegHlpr() override;

    // Applies each "name=value" line of `text` with SetOption, in text order. Lines break at
    // CR LF, CR or LF; only the first "=" splits; lines the engine does not take are ignored.
    void ApplyOptionText(const std::string& text);

    // Reads the first opened input into Input. Call right after OpenInputFile succeeded.
    void DescribeFirstInput();

    // --- Files opened when the job runs, so that a waiting job holds none.
    // `step` opens more of the job's files after the steps added before it; it counts
    // `inputs` and `outputs` towards what the job will have when it runs.
    void AddSetUpStep(TJobSetUp step, int32_t inputs, int32_t outputs);
    // Opens the files again on the calling thread, as the job is being set up: false with
    // the reason in LastError.
    bool ReopenFiles();
    // Which decoders serve RealVideo 3 and 4 when the job's input is opened again.
    bool UseLibraryRealVideoDecoders = true;
    // Made by the component when its turn came, and released once it has ended.
    bool MadeAtStart = false;
    // The last run failed while opening the job's files, before any conversion.
    std::atomic<bool> FailedToOpen{false};

    // Position in the component's list, -1 until added; set before the job can start.
    int32_t Index = -1;
    // The thread that runs the job: its worker, or the main thread for a start there; 0 until
    // started. Written before the worker runs anything, read by log dispatch on any thread.
    std::atomic<uint32_t> ThreadID{0};
    TInputDescription Input;

protected:
    void WorkerThreadCreated(uint32_t threadId) override;
    void OpenFilesToRun() override;
    int32_t OutputsToRun() const override;
    int32_t InputsToRun() const override;

private:
    // Runs the set-up steps on a job whose defaults were just reloaded.
    bool RunSetUpSteps();

    std::vector<TJobSetUp> setUpSteps_;
    int32_t inputsToRun_ = 0;
    int32_t outputsToRun_ = 0;
};

// Splits option text into its (name, value) pairs, as ApplyOptionText hands them on.
std::vector<std::pair<std::string, std::string>> SplitOptionText(const std::string& text);

}  // namespace kelvaro
