// Disc and camcorder presets: one call sets codecs, picture size, rates, rate control and
// muxer values for a television norm.

#include "engine/target_presets.h"

#include <cmath>
#include <optional>

#include "engine/job.h"
#include "engine/text_format.h"
#include "medialib/media_functions.h"

namespace kelvaro {
namespace {

enum class Norm { Pal, Ntsc, Film };

// Frames per second × 1000, rounded half to even: 25000, 29970, 23976 name the norms.
std::optional<Norm> NormOfRate(AVRational rate)
{
    if (rate.den == 0)
        return std::nullopt;
    const double perMille = std::nearbyint(rate.num * 1000.0 / rate.den);
    if (perMille == 25000)
        return Norm::Pal;
    if (perMille == 29970 || perMille == 23976)
        return Norm::Ntsc;
    return std::nullopt;
}

const char* FrameRateText(Norm norm)
{
    switch (norm) {
    case Norm::Pal:
        return "25";
    case Norm::Ntsc:
        return "30000/1001";
    case Norm::Film:
        return "24000/1001";
    }
    return "25";
}

}  // namespace

std::optional<TTargetParts> TargetParts(const std::string& target)
{
    // DV's are the dv muxer's own codecs.
    static const std::pair<const char*, TTargetParts> kParts[] = {
        {"vcd", {"mpeg1video", "mp2", "vcd"}},
        {"svcd", {"mpeg2video", "mp2", "svcd"}},
        {"dvd", {"mpeg2video", "ac3", "dvd"}},
        {"dv", {"dvvideo", "pcm_s16le", "dv"}},
        {"dv50", {"dvvideo", "pcm_s16le", "dv"}}};
    for (const auto& [name, parts] : kParts)
        if (target == name)
            return parts;
    return std::nullopt;
}

void TCustomFFmpegHlpr::SetTarget(const std::string& target, const std::string& normText,
                                  const std::string& defaultNorm)
{
    Norm norm = Norm::Pal;
    if (normText == "pal") {
        norm = Norm::Pal;
    } else if (normText == "ntsc") {
        norm = Norm::Ntsc;
    } else if (normText == "film") {
        norm = Norm::Film;
    } else {
        if (FrameRate.den == 0)
            throw FFMpegException("frame_rate is invalid.");
        std::optional<Norm> guessed = NormOfRate(FrameRate);
        for (int file = 0; file < InputFileCount && !guessed; ++file) {
            const AVFormatContext* input = InputFiles[file].Context.get();
            for (unsigned i = 0; i < input->nb_streams && !guessed; ++i) {
                const AVStream* stream = input->streams[i];
                if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
                    guessed = NormOfRate(stream->r_frame_rate);
            }
        }
        if (guessed)
            norm = *guessed;
        else
            norm = defaultNorm == "film" ? Norm::Film
                                         : (defaultNorm == "ntsc" ? Norm::Ntsc : Norm::Pal);
        if (JobLogLevel > 0)
            Log(1, Format("Assuming %s for target.", norm == Norm::Pal ? "PAL" : "NTSC"));
    }
    const bool pal = norm == Norm::Pal;
    const char* gop = pal ? "15" : "18";
    const std::optional<TTargetParts> parts = TargetParts(target);
    if (!parts)
        throw FFMpegException("Unknown target type");
    SetVideoCodec(parts->VideoEncoder);
    SetAudioCodec(parts->AudioEncoder);
    SetOutputFormat(parts->Muxer);

    if (target == "vcd") {
        SetFrameSize(pal ? "352x288" : "352x240");
        SetFrameRate(FrameRateText(norm));
        SetOption("gop", gop);
        SetOption("b", "1150000");
        SetOption("maxrate", "1150000");
        SetOption("minrate", "1150000");
        SetOption("bufsize", "327680");
        SetOption("ab", "224000");
        SetAudioSampleRate(44100);
        SetAudioChannels(2);
        SetOption("packetsize", "2324");
        SetOption("muxrate", "1411200");
        MuxPreload = 0.44f;
        if (FrameAspectRatio == 0)
            SetAspectRatio("4:3");
    } else if (target == "svcd") {
        SetFrameSize(pal ? "480x576" : "480x480");
        SetFrameRate(FrameRateText(norm));
        SetOption("gop", gop);
        SetOption("b", "2040000");
        SetOption("maxrate", "2516000");
        SetOption("minrate", "0");
        SetOption("bufsize", "1835008");
        SetOption("flags", "+SCAN_OFFSET");
        SetOption("ab", "224000");
        SetAudioSampleRate(44100);
        SetOption("packetsize", "2324");
        if (AudioChannels == 1)
            SetAudioChannels(2);
        if (FrameAspectRatio == 0)
            SetAspectRatio("4:3");
    } else if (target == "dvd") {
        SetFrameSize(pal ? "720x576" : "720x480");
        SetFrameRate(FrameRateText(norm));
        SetOption("gop", gop);
        SetOption("b", "6000000");
        SetOption("maxrate", "9000000");
        SetOption("minrate", "0");
        SetOption("bufsize", "1835008");
        SetOption("packetsize", "2048");
        SetOption("muxrate", "10080000");
        SetOption("ab", "448000");
        SetAudioSampleRate(48000);
        if (AudioChannels == 1)
            SetAudioChannels(2);
        if (FrameAspectRatio == 0)
            SetAspectRatio("16:9");
    } else {
        SetFrameSize(pal ? "720x576" : "720x480");
        SetPixelFormat(target == "dv50" ? "yuv422p" : (pal ? "yuv420p" : "yuv411p"));
        SetFrameRate(FrameRateText(norm));
        SetAudioSampleRate(48000);
        SetAudioChannels(2);
    }
}

}  // namespace kelvaro
