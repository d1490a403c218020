#include "converter/target_formats.h"

#include <algorithm>
#include <array>

namespace kelvaro {
namespace {

constexpr std::array<int32_t, 9> kMp3Rates = {8000,  11025, 12000, 16000, 22050,
                                              24000, 32000, 44100, 48000};
constexpr std::array<int32_t, 13> kAacRates = {7350,  8000,  11025, 12000, 16000, 22050, 24000,
                                               32000, 44100, 48000, 64000, 88200, 96000};
// Opus always decodes at 48000 Hz; writing it at a lower rate only loses sound.
constexpr std::array<int32_t, 1> kOpusRates = {48000};

// Bit rates: WMA's floor is its encoder's least; the others' bounds are what their encoders
// write at all (lame's constant rates, the AAC and Opus encoders' limits).
// GCC 12 counts members left to their defaults by a designated initializer as missing.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
// clang-format off
const TFormatInfo kFormats[] = {
    {.Format = TTargetFormat::Wma, .Name = "wma", .Label = "WMA", .Extension = ".wma",
     .Encoder = "wmav2", .Muxer = "asf", .Quality = TQualityKind::BitRate,
     .BitRateRange = {24000, 2147483647, 128000}, .MaxChannels = 2, .MaxSampleRate = 48000},
    {.Format = TTargetFormat::Wav, .Name = "wav", .Label = "WAV", .Extension = ".wav",
     .Encoder = "", .Muxer = "wav", .Quality = TQualityKind::None, .TakesBits = true},
    {.Format = TTargetFormat::Mp3, .Name = "mp3", .Label = "MP3", .Extension = ".mp3",
     .Encoder = "libmp3lame", .Muxer = "mp3", .Quality = TQualityKind::Vbr,
     .QualityRange = {0, 9, 2}, .QualityLowIsBest = true, .BitRateRange = {8000, 320000, 0},
     .MaxChannels = 2, .MaxSampleRate = 48000, .SampleRates = kMp3Rates},
    {.Format = TTargetFormat::Aac, .Name = "aac", .Label = "AAC", .Extension = ".m4a",
     .Encoder = "aac", .Muxer = "ipod", .Quality = TQualityKind::BitRate,
     .BitRateRange = {16000, 512000, 192000}, .MaxChannels = 8, .MaxSampleRate = 96000,
     .SampleRates = kAacRates},
    {.Format = TTargetFormat::Opus, .Name = "opus", .Label = "Opus", .Extension = ".opus",
     .Encoder = "libopus", .Muxer = "opus", .Quality = TQualityKind::BitRate,
     .BitRateRange = {6000, 510000, 128000}, .MaxChannels = 8, .MaxSampleRate = 48000,
     .SampleRates = kOpusRates},
    {.Format = TTargetFormat::Vorbis, .Name = "vorbis", .Label = "Ogg Vorbis",
     .Extension = ".ogg", .Encoder = "libvorbis", .Muxer = "ogg", .Quality = TQualityKind::Vbr,
     .QualityRange = {-1, 10, 5}, .MaxChannels = 8},
    {.Format = TTargetFormat::Flac, .Name = "flac", .Label = "FLAC", .Extension = ".flac",
     .Encoder = "flac", .Muxer = "flac", .Quality = TQualityKind::Compression,
     .QualityRange = {0, 8, 5}, .TakesBits = true, .MaxChannels = 8, .MaxSampleRate = 655350},
    {.Format = TTargetFormat::Alac, .Name = "alac", .Label = "ALAC", .Extension = ".m4a",
     .Encoder = "alac", .Muxer = "ipod", .Quality = TQualityKind::None, .TakesBits = true,
     .MaxChannels = 8},
};
// clang-format on
#pragma GCC diagnostic pop

}  // namespace

std::span<const TFormatInfo> TargetFormats()
{
    return kFormats;
}

const TFormatInfo& FormatInfo(TTargetFormat format)
{
    return kFormats[static_cast<size_t>(format)];
}

std::optional<TTargetFormat> FindTargetFormat(const std::string& name)
{
    if (name == "m4a")
        return TTargetFormat::Aac;
    if (name == "ogg")
        return TTargetFormat::Vorbis;
    for (const TFormatInfo& format : kFormats)
        if (name == format.Name)
            return format.Format;
    return std::nullopt;
}

std::string ListText(const std::vector<std::string>& items, const std::string& lastJoin)
{
    std::string list;
    for (size_t i = 0; i < items.size(); ++i)
        list += (i == 0 ? "" : i + 1 == items.size() ? " " + lastJoin + " " : ", ") + items[i];
    return list;
}

std::string FormatNameList()
{
    std::vector<std::string> names;
    for (const TFormatInfo& format : kFormats)
        names.emplace_back(format.Name);
    return ListText(names, "or");
}

int32_t FormatSampleRate(const TFormatInfo& format, int32_t sourceRate)
{
    if (sourceRate <= 0)
        return sourceRate;
    const std::span<const int32_t> rates = format.SampleRates;
    if (rates.empty())
        return format.MaxSampleRate > 0 ? std::min(sourceRate, format.MaxSampleRate) : sourceRate;
    if (std::find(rates.begin(), rates.end(), sourceRate) != rates.end())
        return sourceRate;
    const int32_t highest = *std::max_element(rates.begin(), rates.end());
    if (sourceRate > highest) {
        // 88200 to 44100 rather than to 48000: the same family halves cleanly.
        int32_t best = 0;
        for (const int32_t rate : rates)
            if (sourceRate % rate == 0)
                best = std::max(best, rate);
        return best > 0 ? best : highest;
    }
    int32_t above = highest;
    for (const int32_t rate : rates)
        if (rate >= sourceRate)
            above = std::min(above, rate);
    return above;
}

}  // namespace kelvaro
