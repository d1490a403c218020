#pragma once
// Every tag and the cover of an input, carried into a finished output. The muxers write a
// few fields only, and none writes pictures into Ogg or ASF, nor free-form MP4 atoms; TagLib
// writes each format's own places for all of them. Applied to the temporary file after its
// muxer closed it and before it takes its final name.

#include <string>
#include <vector>

struct AVFormatContext;

namespace kelvaro {

// Adds to the output `outputFile`, written by the muxer `muxerName`, the tags of the input
// `input` (its file, or what its demuxer read when TagLib cannot read the file) that the
// output does not hold yet, so that tags the job set itself stay; and the input's first
// attached picture, when the output has none. Outputs TagLib does not tag (WAV, MPEG, DV)
// are left alone. What had to be left out, each as a sentence for the job's warning.
std::vector<std::string> CarryTags(const AVFormatContext& input, const std::string& outputFile,
                                   const std::string& muxerName);

}  // namespace kelvaro
