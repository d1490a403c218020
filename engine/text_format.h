#pragma once
// printf-style formatting into std::string, for the engine's fixed message texts.

#include <string>

namespace kelvaro {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace kelvaro
