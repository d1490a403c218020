#pragma once
// What a front end tells a person about a failed job: the engine's texts name library calls
// and codes, which stay in the log; this says what happened to the files, where it can tell.

#include <cstdint>
#include <string>

namespace kelvaro {

class TCustomAVConverter;

struct TJobFailure {
    std::string EngineText;   // why the engine ended the job
    std::string LibraryText;  // the last error the library logged for it; may be empty
    bool WhileOpening = false;
    std::string Input;
    std::string Output;
};

// A reason a person can act on where one is known, otherwise the engine's text; empty when
// the job did not fail.
std::string FailureReason(const TJobFailure& failure);

// The same for job `index` of `converter`, from its termination on (see JobError).
std::string JobFailureReason(const TCustomAVConverter& converter, int32_t index,
                             const std::string& input, const std::string& output);

}  // namespace kelvaro
