#include "engine/media_error.h"

#include "engine/text_format.h"
#include "medialib/media_functions.h"

namespace kelvaro {
namespace {

const char* TemplateFor(int code)
{
    // FFmpeg now reports a file no demuxer recognises as AVERROR_INVALIDDATA rather than -42.
    if (code == AVERROR_INVALIDDATA)
        code = -42;
    switch (code) {
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
    return Format(TemplateFor(code), name.c_str());
#pragma GCC diagnostic pop
}

std::string ErrorReason(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (avutil.av_strerror(code, text, sizeof text) < 0)
        return Format("error %d", code);
    return text;
}

}  // namespace kelvaro
