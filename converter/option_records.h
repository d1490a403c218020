#pragma once
// The records with which a caller describes a job's input and output, and their translation
// into engine settings. Every numeric field has a "not set" value (-1, or 0 for switches)
// that leaves the engine's own default in place.

#include <cstdint>
#include <string>

#include "converter/system_colors.h"

namespace kelvaro {

class TFFmpegHlpr;

// All fields empty by default; there is no defaults routine.
struct TInputOptions {
    std::string FileName;      // for the caller's own use; AddInputFile takes the name apart
    std::string FormatName;    // forced demuxer; empty: detected
    std::string ExtraOptions;  // "name=value" lines
};

// Tags are fixed character arrays: the text ends at the first NUL or fills the array. A
// fresh record already holds the defaults that InitOutputOptions restores.
struct TOutputOptions {
    std::string FileName;    // for the caller's own use
    std::string FileExt;     // for the caller's own use
    std::string FormatName;  // muxer; empty: chosen from the file name
    int32_t PacketSize = -1;
    int32_t MuxRate = -1;
    float MaxDelay = -1.0f;  // seconds
    float Preload = -1.0f;   // seconds
    std::string AudioCodec;  // "copy" copies the stream
    int32_t DisableAudio = 0;
    int32_t Volume = -1;  // 256 = unchanged
    int32_t AudioChannels = -1;
    int32_t SampleRate = -1;  // Hz
    int32_t AudioBitrate = -1;
    int32_t AudioBitrateTolerance = -1;
    std::string AudioLanguage;
    std::string VideoCodec;  // "copy" copies the stream
    int32_t DisableVideo = 0;
    std::string FrameRate;
    std::string FrameSize;
    std::string AspectRatio;  // a decimal number or width ":" height
    int32_t CropTop = -1, CropBottom = -1, CropLeft = -1, CropRight = -1;
    int32_t PadTop = -1, PadBottom = -1, PadLeft = -1, PadRight = -1;
    TColor PadColor = 0;  // black
    int32_t GopSize = -1;
    int32_t VideoBitrate = -1;
    int32_t MaxRate = -1;
    int32_t MinRate = -1;
    int32_t VideoBitrateTolerance = -1;
    int32_t BufferSize = -1;
    int32_t DisableSubtitle = 0;
    std::string SubtitleLanguage;
    int32_t CopyTimestamps = 0;
    int32_t StartTime = -1;  // milliseconds
    int32_t Duration = -1;   // milliseconds
    int64_t Timestamp = -1;  // seconds since 1970-01-01; 0 = now
    int32_t Year = -1;
    int32_t Track = -1;
    char Title[512] = {};
    char Author[512] = {};
    char Copyright[512] = {};
    char Comment[512] = {};
    char Album[512] = {};
    char Genre[32] = {};
    int32_t CopyTags = 0;      // switch: the input's own tags go into the output too
    int32_t Target = 0;        // 1 video CD, 2 super video CD, 3 DVD, 4 DV, 5 DV50, else none
    int32_t TargetNorm = 0;    // 0 automatic, 1 PAL, 2 NTSC, 3 film, else automatic
    int32_t FallbackNorm = 1;  // 1 PAL, else NTSC
    std::string ExtraOptions;  // "name=value" lines
};

// Every field back to its "not set" default: strings empty, tags zero-filled, numbers -1,
// switches 0, PadColor black, Target and TargetNorm 0, FallbackNorm 1.
void InitOutputOptions(TOutputOptions& options);

// Tag text of a fixed array: up to the first NUL, at most the array's size.
template <size_t N>
std::string TagText(const char (&tag)[N])
{
    size_t length = 0;
    while (length < N && tag[length] != '\0')
        ++length;
    return std::string(tag, length);
}

// Copies `text` into a tag array, cut to its size; the rest is zero-filled.
template <size_t N>
void SetTagText(char (&tag)[N], const std::string& text)
{
    size_t i = 0;
    for (; i < N && i < text.size(); ++i)
        tag[i] = text[i];
    for (; i < N; ++i)
        tag[i] = '\0';
}

// The input record: ExtraOptions, then the forced input format. Raises FFMpegException for
// a format the media library does not know.
void ApplyInputOptions(TFFmpegHlpr& job, const TInputOptions& options);

// The preset of the record's Target numbering (1 "vcd" ... 5 "dv50"); null for none.
const char* TargetPresetName(int32_t target);

// The output record: ExtraOptions, then the fields in their fixed order, then the target
// preset, so explicit fields override the option text and the preset overrides both. The
// first setting that rejects its value raises FFMpegException and ends the translation; the
// settings made before it stay.
void ApplyOutputOptions(TFFmpegHlpr& job, const TOutputOptions& options,
                        const TSystemColorTable& colors);

}  // namespace kelvaro
