#pragma once
// printf-style formatting into std::string, for the engine's fixed message texts, and the
// trimming the engine gives option names and values.

#include <string>

namespace kelvaro {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// `text` without leading and trailing white space and control characters.
std::string Trimmed(const std::string& text);

}  // namespace kelvaro
