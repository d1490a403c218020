#include "engine/text_format.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>

namespace kelvaro {

std::string Format(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    va_list measure;
    va_copy(measure, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<size_t>(length));
        std::vsnprintf(text.data(), text.size() + 1, format, arguments);
    }
    va_end(arguments);
    return text;
}

std::string Trimmed(const std::string& text)
{
    const auto blank = [](unsigned char c) { return std::isspace(c) || std::iscntrl(c); };
    auto first = std::find_if_not(text.begin(), text.end(), blank);
    auto last = std::find_if_not(text.rbegin(), text.rend(), blank).base();
    return first < last ? std::string(first, last) : std::string();
}

}  // namespace kelvaro
