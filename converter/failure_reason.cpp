#include "converter/failure_reason.h"

#include <sys/stat.h>

#include <filesystem>

#include "converter/av_converter.h"

namespace kelvaro {
namespace {

bool Holds(const std::string& text, const char* part)
{
    return text.find(part) != std::string::npos;
}

}  // namespace

std::string FailureReason(const TJobFailure& failure)
{
    const std::string& engine = failure.EngineText;
    const std::string& library = failure.LibraryText;
    if (engine.empty())
        return engine;
    // Front ends make the output folder before the run, and the rule its folders below it
    // once the input has opened: a failure on the output with its folder missing means the
    // folder was removed.
    const std::filesystem::path folder = std::filesystem::path(failure.Output).parent_path();
    std::error_code error;
    if (!failure.Output.empty() && Holds(engine, failure.Output.c_str()) &&
        !std::filesystem::is_directory(folder.empty() ? "." : folder, error))
        return "the output folder " + folder.string() + " was removed during the run";
    // The library names the call that met the full disk, which may be an open or a write.
    if (Holds(engine, "No space left on device") || Holds(library, "No space left on device"))
        return "no space left on the output's disk";
    if (!failure.WhileOpening)
        return engine;
    struct stat status {};
    if (stat(failure.Input.c_str(), &status) == 0 && S_ISREG(status.st_mode) && status.st_size == 0)
        return "the file is empty";
    if (Holds(library, "Invalid sample rate: 0"))
        return "the file's header is damaged (sample rate 0)";
    if (Holds(library, "Failed to read extradata"))
        return "the file's header is damaged (a part runs past the end of the file)";
    if (Holds(engine, "Unknown format") || Holds(engine, "Error while parsing header") ||
        Holds(engine, "Invalid data found when processing input"))
        return "not an audio file Kelvaro can read";
    return engine;
}

std::string JobFailureReason(const TCustomAVConverter& converter, int32_t index,
                             const std::string& input, const std::string& output)
{
    return FailureReason({converter.JobError(index), converter.JobLibraryError(index),
                          converter.JobFailedToOpen(index), input, output});
}

}  // namespace kelvaro
