#pragma once
// What each disc and camcorder target (TCustomFFmpegHlpr::SetTarget) is made of, for those
// who must know before a job is set up: which encoders and muxer an output of it has.

#include <optional>
#include <string>

namespace kelvaro {

struct TTargetParts {
    const char* VideoEncoder;
    const char* AudioEncoder;
    const char* Muxer;
};

// "vcd", "svcd", "dvd", "dv" or "dv50"; none for another name.
std::optional<TTargetParts> TargetParts(const std::string& target);

}  // namespace kelvaro
