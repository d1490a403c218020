#include "converter/audio_extensions.h"

#include <algorithm>
#include <cctype>

#include "converter/conversion_rule.h"

namespace kelvaro {

const std::vector<std::string>& AudioExtensions()
{
    // The open dialog's audio filter, less what the libraries cannot read (MIDI, OptimFROG),
    // plus what they read and it lacked.
    static const std::vector<std::string> extensions = {
        "wav", "au",  "aiff", "aif", "mp3", "mp2", "ogg", "oga", "opus", "aac", "m4a",
        "mp4", "vqf", "ape",  "wma", "wmv", "asf", "avi", "mpg", "mpeg", "dat", "flac",
        "mka", "mpa", "mpc",  "ra",  "wv",  "tta", "ac3", "dts", "webm"};
    return extensions;
}

bool HasAudioExtension(const std::string& path)
{
    const std::string name = FileNamePart(path);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return false;
    std::string extension = name.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::vector<std::string>& known = AudioExtensions();
    return std::find(known.begin(), known.end(), extension) != known.end();
}

}  // namespace kelvaro
