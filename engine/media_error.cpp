#include "engine/media_error.h"

#include <cstring>

#include "engine/text_format.h"
#include "medialib/media_functions.h"

namespace kelvaro {
namespace {

// System error numbers are small; the library's own codes are tags far below them.
constexpr int kLargestErrorNumber = 4095;

// FFmpeg now reports a file no demuxer recognises as AVERROR_INVALIDDATA rather than -42.
int ClassicCode(int code)
{
    return code == AVERROR_INVALIDDATA ? -42 : code;
}

// The codes whose text already is their reason.
bool TextNamesTheReason(int code)
{
    switch (ClassicCode(code)) {
    case -42:
    case -33:
    case -12:
    case -5:
    case -2:
        return true;
    default:
        return false;
    }
}

const char* TemplateFor(int code)
{
    switch (ClassicCode(code)) {
    case -42:
        return "%s: Unknown format";
    case -33:
        return "%s: Incorrect image filename syntax.\r\n"
               "Use '%%d' to specify the image number:\r\n"
               "  for img1.jpg, img2.jpg, ..., use 'img%%d.jpg';\r\n"
               "  for img001.jpg, img002.jpg, ..., use 'img%%03d.jpg'.";
    case -22:
        return "%s: Error while parsing header";
    case -12:
        return "%s: memory allocation error occurred";
    case -5:
        return "%s: I/O error occurred\r\n"
               "Usually that means that input file is truncated and/or corrupted.";
    case -2:
        return "%s: no such file or directory";
    default:
        return "%s: Error while opening file";
    }
}

}  // namespace

std::string MediaErrorText(const std::string& name, int code)
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::string text = Format(TemplateFor(code), name.c_str());
#pragma GCC diagnostic pop
    if (!TextNamesTheReason(code))
        text += ": " + ErrorReason(code);
    return text;
}

std::string ErrorReason(int code)
{
    if (code < 0 && code >= -kLargestErrorNumber) {
        char buffer[256];
        return strerror_r(-code, buffer, sizeof buffer);  // GNU: may return its own text
    }
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    if (avutil.av_strerror && avutil.av_strerror(code, buffer, sizeof buffer) == 0)
        return buffer;
    return Format("error %d", code);
}

}  // namespace kelvaro
