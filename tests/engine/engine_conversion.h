#pragma once
// One engine job converting one input into one output on the test's thread, with what it
// logged kept: what the conversion tests of the engine build their cases on.

#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/job.h"

namespace kelvaro::test {

class EngineConversion {
public:
    explicit EngineConversion(std::mutex& lock) : job_(lock)
    {
        job_.Reset();
        job_.SetLogLevel(-1);
        job_.LogHandler = [this](TCustomFFmpegHlpr&, int level, const std::string& text) {
            log.emplace_back(level, text);
        };
    }
    ~EngineConversion() { job_.SetLogLevel(1); }

    TCustomFFmpegHlpr& Job() { return job_; }

    // Opens both files; `configure` runs between the two opens, where the output settings go.
    // False with the failure in `error`.
    bool Open(const std::string& input, const std::string& output,
              const std::function<void(TCustomFFmpegHlpr&)>& configure = {})
    {
        if (!job_.OpenInputFile(input)) {
            error = job_.LastError;
            return false;
        }
        if (configure)
            configure(job_);
        if (!job_.OpenOutputFile(output)) {
            error = job_.LastError;
            return false;
        }
        return true;
    }
    // Runs the transcode on this thread; false with the failure in `error`.
    bool Run()
    {
        try {
            job_.StartTranscode(false, tpNormal);
        } catch (const FFMpegException& failure) {
            error = failure.what();
            return false;
        }
        return job_.Finished;
    }

    std::string error;
    std::vector<std::pair<int, std::string>> log;

private:
    TCustomFFmpegHlpr job_;
};

}  // namespace kelvaro::test
