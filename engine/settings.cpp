// The job's setting operations: each validates one value and stores it.

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <ctime>

#include "engine/job.h"
#include "engine/text_format.h"
#include "medialib/media_functions.h"

namespace kelvaro {
namespace {

std::atomic<bool> useLibraryRealVideoDecoders{true};

// The name the library no longer knows, and the one it knows now.
std::string CurrentFormatName(TCustomFFmpegHlpr& job, const std::string& name)
{
    if (name != "pgmyuv")
        return name;
    job.PgmYuvRequested = 1;
    job.Log(1, "pgmyuv format is deprecated, use image2");
    return "image2";
}

bool IsOdd(int32_t value)
{
    return value % 2 != 0;
}

// The whole text as an integer, or 0.
int ParseIntegerOrZero(std::string_view text)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : 0;
}

// The whole text (blanks around it aside) as a number in the user's notation, or 0.
double ParseDecimalOrZero(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    const size_t last = text.find_last_not_of(" \t");
    if (first == std::string::npos)
        return 0;
    const std::string trimmed = text.substr(first, last - first + 1);
    char* end = nullptr;
    const double value = std::strtod(trimmed.c_str(), &end);
    return end == trimmed.c_str() + trimmed.size() ? value : 0;
}

}  // namespace

void TCustomFFmpegHlpr::SetInputFormat(const std::string& name)
{
    if (name.empty())
        return;
    const std::string current = CurrentFormatName(*this, name);
    ForcedInputFormat = avformat.av_find_input_format(current.c_str());
    if (!ForcedInputFormat)
        throw FFMpegException(Format("Unknown input format: %s", current.c_str()));
}

void TCustomFFmpegHlpr::SetOutputFormat(const std::string& name)
{
    if (name.empty())
        return;
    const std::string current = CurrentFormatName(*this, name);
    ForcedOutputFormat = avformat.av_guess_format(current.c_str(), nullptr, nullptr);
    if (!ForcedOutputFormat)
        throw FFMpegException(Format("Unknown output format: %s", current.c_str()));
}

void TCustomFFmpegHlpr::SetFrameRate(const std::string& text)
{
    if (text.empty())
        return;
    if (avutil.av_parse_video_rate(&FrameRate, text.c_str()) < 0)
        throw FFMpegException("Incorrect frame rate");
}

void TCustomFFmpegHlpr::SetFrameSize(const std::string& text)
{
    if (text.empty())
        return;
    if (avutil.av_parse_video_size(&FrameWidth, &FrameHeight, text.c_str()) < 0)
        throw FFMpegException("Incorrect frame size");
    if (IsOdd(FrameWidth) || IsOdd(FrameHeight))
        throw FFMpegException("Frame size must be a multiple of 2");
}

void TCustomFFmpegHlpr::SetCrop(int32_t pixels, int32_t& band, int32_t& dimension,
                                const char* side, bool vertical)
{
    if (pixels < 0)
        return;
    if (IsOdd(pixels))
        throw FFMpegException(Format("%s crop size must be a multiple of 2", side));
    if (pixels >= dimension)
        throw FFMpegException(
            Format("%s crop dimensions are outside the range of the original image.\n"
                   "Remember to crop first and scale second.",
                   vertical ? "Vertical" : "Horizontal"));
    band = pixels;
    dimension -= pixels;
}

void TCustomFFmpegHlpr::SetCropTop(int32_t pixels)
{
    SetCrop(pixels, CropTop, FrameHeight, "Top", true);
}

void TCustomFFmpegHlpr::SetCropBottom(int32_t pixels)
{
    SetCrop(pixels, CropBottom, FrameHeight, "Bottom", true);
}

void TCustomFFmpegHlpr::SetCropLeft(int32_t pixels)
{
    SetCrop(pixels, CropLeft, FrameWidth, "Left", false);
}

void TCustomFFmpegHlpr::SetCropRight(int32_t pixels)
{
    SetCrop(pixels, CropRight, FrameWidth, "Right", false);
}

void TCustomFFmpegHlpr::SetPad(int32_t pixels, int32_t& band, const char* side)
{
    if (pixels < 0)
        return;
    if (IsOdd(pixels))
        throw FFMpegException(Format("%s pad size must be a multiple of 2", side));
    band = pixels;
}

void TCustomFFmpegHlpr::SetPadTop(int32_t pixels)
{
    SetPad(pixels, PadTop, "Top");
}

void TCustomFFmpegHlpr::SetPadBottom(int32_t pixels)
{
    SetPad(pixels, PadBottom, "Bottom");
}

void TCustomFFmpegHlpr::SetPadLeft(int32_t pixels)
{
    SetPad(pixels, PadLeft, "Left");
}

void TCustomFFmpegHlpr::SetPadRight(int32_t pixels)
{
    SetPad(pixels, PadRight, "Right");
}

void TCustomFFmpegHlpr::SetPadColor(uint32_t rgb)
{
    const int r = static_cast<int>(rgb & 0xff);
    const int g = static_cast<int>((rgb >> 8) & 0xff);
    const int b = static_cast<int>((rgb >> 16) & 0xff);
    // Fixed-point BT.601 with shifts that round toward minus infinity (arithmetic >> on int).
    PadColorY = (307 * r + 602 * g + 117 * b + 512) >> 10;
    PadColorU = ((-173 * r - 340 * g + 512 * b + 511) >> 10) + 128;
    PadColorV = ((512 * r - 429 * g - 84 * b + 511) >> 10) + 128;
}

void TCustomFFmpegHlpr::SetPixelFormat(const std::string& name)
{
    if (name != "list") {
        FramePixelFormat = avutil.av_get_pix_fmt(name.c_str());
        return;
    }
    if (!LogHandler)
        return;
    auto logFormat = [this](AVPixelFormat format) {
        char text[128] = {};
        avutil.av_get_pix_fmt_string(text, sizeof text, format);
        std::string line(text);
        const size_t first = line.find_first_not_of(' ');
        const size_t last = line.find_last_not_of(' ');
        Log(1, first == std::string::npos ? "" : line.substr(first, last - first + 1));
    };
    logFormat(AV_PIX_FMT_NONE);  // the table's header line
    for (const AVPixFmtDescriptor* descriptor = avutil.av_pix_fmt_desc_next(nullptr); descriptor;
         descriptor = avutil.av_pix_fmt_desc_next(descriptor))
        logFormat(avutil.av_pix_fmt_desc_get_id(descriptor));
}

void TCustomFFmpegHlpr::SetAspectRatio(const std::string& text)
{
    if (text.empty())
        return;
    double value = 0;
    if (const size_t colon = text.find(':'); colon != std::string::npos) {
        const int width = ParseIntegerOrZero(std::string_view(text).substr(0, colon));
        const int height = ParseIntegerOrZero(std::string_view(text).substr(colon + 1));
        value = height > 0 ? static_cast<double>(width) / height : 0;
    } else {
        value = ParseDecimalOrZero(text);
    }
    if (value == 0)
        throw FFMpegException("Incorrect aspect ratio specification.");
    FrameAspectRatio = static_cast<float>(value);
}

void TCustomFFmpegHlpr::SetAudioSampleRate(int32_t hertz)
{
    if (hertz > 0) {
        AudioSampleRate = hertz;
        AudioSampleRateChosenAt = InputFileCount;
    }
}

void TCustomFFmpegHlpr::SetAudioChannels(int32_t channels)
{
    if (channels > 0) {
        AudioChannels = channels;
        AudioChannelsChosenAt = InputFileCount;
    }
}

void TCustomFFmpegHlpr::SetAudioQuality(float quality)
{
    AudioQScale = quality;
}

void TCustomFFmpegHlpr::SetAudioSampleBits(int32_t bits)
{
    if (bits == 16 || bits == 24)
        AudioSampleBits = bits;
}

void TCustomFFmpegHlpr::SetVideoCodec(const std::string& name)
{
    if (name.empty())
        return;
    VideoCodecName.clear();
    if (name == "copy")
        VideoCopy = 1;  // an earlier name is gone; a later one keeps the copy flag
    else
        VideoCodecName = name;
}

void TCustomFFmpegHlpr::SetAudioCodec(const std::string& name)
{
    if (name.empty())
        return;
    AudioCodecName.clear();
    if (name == "copy")
        AudioCopy = 1;
    else
        AudioCodecName = name;
}

void TCustomFFmpegHlpr::SetAudioVolume(int32_t volume)
{
    if (volume >= 0)
        AudioVolume = volume;
}

void TCustomFFmpegHlpr::SetMuxPreload(float seconds)
{
    if (seconds > 0)
        MuxPreload = seconds;
}

void TCustomFFmpegHlpr::SetMuxMaxDelay(float seconds)
{
    if (seconds > 0)
        MuxMaxDelay = seconds;
}

void TCustomFFmpegHlpr::SetStartTime(int32_t milliseconds)
{
    if (milliseconds <= 0)
        return;
    StartTime = int64_t{milliseconds} * 1000;
    for (int i = 0; i < InputFileCount; ++i) {
        const int64_t timestamp = SeekToStartTime(InputFiles[i].Context.get());
        InputTimeOffsets[i] = KeepTimestamps ? InputTimeOffset : InputTimeOffset - timestamp;
    }
    StartTime = 0;
    TotalDurationMs -= milliseconds;
}

void TCustomFFmpegHlpr::SetRecordingTime(int32_t milliseconds)
{
    if (milliseconds <= 0)
        return;
    RecordingTime = int64_t{milliseconds} * 1000;
    TotalDurationMs = milliseconds;
}

void TCustomFFmpegHlpr::SetRecordTimestamp(int64_t seconds)
{
    if (seconds < 0)
        return;
    RecordTimestamp = seconds > 0 ? seconds : static_cast<int64_t>(std::time(nullptr));
}

void TCustomFFmpegHlpr::SetTitle(const std::string& text)
{
    if (!text.empty())
        Title = text;
}

void TCustomFFmpegHlpr::SetAuthor(const std::string& text)
{
    if (!text.empty())
        Author = text;
}

void TCustomFFmpegHlpr::SetCopyright(const std::string& text)
{
    if (!text.empty())
        Copyright = text;
}

void TCustomFFmpegHlpr::SetComment(const std::string& text)
{
    if (!text.empty())
        Comment = text;
}

void TCustomFFmpegHlpr::SetAlbum(const std::string& text)
{
    if (!text.empty())
        Album = text;
}

void TCustomFFmpegHlpr::SetGenre(const std::string& text)
{
    if (!text.empty())
        Genre = text;
}

void TCustomFFmpegHlpr::SetYear(int32_t year)
{
    if (year > 0)
        Year = year;
}

void TCustomFFmpegHlpr::SetTrack(int32_t track)
{
    if (track > 0)
        Track = track;
}

void TCustomFFmpegHlpr::SelectRealVideoDecoder(bool useLibraryDecoders)
{
    // Codec ids can no longer be changed in the library; the engine's decoder look-up
    // consults this choice instead.
    useLibraryRealVideoDecoders = useLibraryDecoders;
}

bool TCustomFFmpegHlpr::UseLibraryRealVideoDecoders()
{
    return useLibraryRealVideoDecoders;
}

}  // namespace kelvaro
