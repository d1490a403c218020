#pragma once
// The audio formats a conversion can write, and what each takes: its name, file extension,
// encoder and muxer, its quality setting and the rates and channels it can hold. Both front
// ends read their choices from here, so a format is added in one place.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kelvaro {

// The first two are the window's original entries and keep their places.
enum class TTargetFormat { Wma, Wav, Mp3, Aac, Opus, Vorbis, Flac, Alac };

// How a format is told how good to be.
enum class TQualityKind {
    None,         // WAV, ALAC: the samples as they are
    BitRate,      // bit/s
    Vbr,          // a quality number (MP3 may take a constant bit rate instead)
    Compression,  // FLAC: effort, the samples are the same at every level
};

struct TFormatRange {
    double Low = 0;
    double High = 0;
    double Default = 0;
};

struct TFormatInfo {
    TTargetFormat Format;
    const char* Name;       // as the command line takes it: "mp3"
    const char* Label;      // as the window shows it: "MP3"
    const char* Extension;  // ".mp3"
    const char* Encoder;    // empty: the muxer's own (WAV)
    const char* Muxer;
    TQualityKind Quality;
    TFormatRange QualityRange;  // of a Vbr or Compression quality; BitRate's is below
    bool QualityLowIsBest;      // MP3's quality counts down, as lame's -V does
    // A bit rate besides the quality: the format's default bit rate, or 0 when it takes none
    // (MP3 takes one for constant bit rate; its default stays the quality).
    TFormatRange BitRateRange;
    bool TakesBits;         // --bits: 16 or 24 bits per sample
    int32_t MaxChannels;    // more are mixed down
    int32_t MaxSampleRate;  // higher rates are resampled; 0: any
    // The rates the encoder can write, when it cannot write any: a source at another rate is
    // resampled to the nearest.
    std::span<const int32_t> SampleRates{};
};

// Every format, in the window's order.
std::span<const TFormatInfo> TargetFormats();
const TFormatInfo& FormatInfo(TTargetFormat format);
// The format of that name, also "m4a" (AAC) and "ogg" (Vorbis); none for an unknown name.
std::optional<TTargetFormat> FindTargetFormat(const std::string& name);
// "wma, wav, mp3, ... or alac", for messages.
std::string FormatNameList();
// "a, b and c" (`lastJoin` "and") for messages.
std::string ListText(const std::vector<std::string>& items, const std::string& lastJoin);

// The rate a format writes for a source at `sourceRate` (0 when unknown): the source's when
// the format can hold it, otherwise the nearest it can (the same family of rates where
// there is one, 44100 for 88200).
int32_t FormatSampleRate(const TFormatInfo& format, int32_t sourceRate);

}  // namespace kelvaro
