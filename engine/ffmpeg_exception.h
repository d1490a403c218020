#pragma once

#include <stdexcept>
#include <string>

namespace kelvaro {

// The engine's failure: carries only its message, one of the engine's fixed texts.
class FFMpegException : public std::runtime_error {
public:
    explicit FFMpegException(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace kelvaro
