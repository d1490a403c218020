#pragma once
// The files Kelvaro takes from a folder: the window from a dropped folder, the command line
// from a folder it walks. One list, so that both take the same files.

#include <string>
#include <vector>

namespace kelvaro {

// Lower case, without the dot: the extensions of the audio files (and audio-bearing video
// files) that the media libraries read.
const std::vector<std::string>& AudioExtensions();

// Whether the name of `path` ends in a dot and one of those extensions, in any letter case.
bool HasAudioExtension(const std::string& path);

}  // namespace kelvaro
