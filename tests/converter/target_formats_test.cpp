// Every audio format through the rule and the engine, read back through the libraries.

#include "converter/target_formats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "converter/conversion_rule.h"
#include "converter/ffmpeg_hlpr.h"
#include "fixtures/audio_measure.h"
#include "fixtures/media_fixtures.h"
#include "support/test_support.h"

namespace kelvaro {
namespace {

class TargetFormatsTest : public ::testing::Test {
protected:
    void SetUp() override { test::LoadMediaLibrariesForTest(); }

    // Converts `input` to `format` as both front ends do; the output's name, or empty with a
    // failure recorded.
    std::string Convert(const std::string& input, TTargetFormat format,
                        const TConversionSettings& settings = {})
    {
        const std::string output = OutputFileName(dir_.Path() + "/" + FormatInfo(format).Name + "-",
                                                  input, TargetExtension(format));
        TFFmpegHlpr job(codecLock_);
        job.Reset();
        job.SetLogLevel(-1);
        if (!ConversionSetUp(input, format, output, {}, settings)(job)) {
            ADD_FAILURE() << FormatInfo(format).Name << ": " << job.LastError;
            return {};
        }
        job.StartTranscode(false, tpNormal);
        EXPECT_TRUE(job.Finished) << FormatInfo(format).Name << ": " << job.TranscodeError;
        return output;
    }

    fixtures::TempDir dir_;
    std::mutex codecLock_;
};

// Gapless: decoded back, the output holds the input's frames, each click where it was
// (at the output's rate, for Opus). Two ends the libraries cannot give back exactly: the
// MP4 reader plays AAC's last frame whole, past the edit list's end, and the Vorbis
// decoder keeps back half of the last short block. WMA has no place for its delay.
TEST_F(TargetFormatsTest, EveryFormatKeepsTheLengthAndEveryClickInPlace)
{
    const std::map<TTargetFormat, int64_t> kLengthOff = {
        {TTargetFormat::Wma, 2624}, {TTargetFormat::Aac, 576}, {TTargetFormat::Vorbis, -128}};
    fixtures::AudioSpec clicks;
    clicks.signal = fixtures::Signal::Clicks;
    clicks.seconds = 24000.0 / 44100;
    clicks.clickFrames = {1000, 3000, 10000, 19990};
    const std::string input = fixtures::MakeWav(dir_.File("clicks.wav"), clicks);
    for (const TFormatInfo& format : TargetFormats()) {
        SCOPED_TRACE(format.Name);
        const std::string output = Convert(input, format.Format);
        if (output.empty())
            continue;
        const fixtures::DecodedAudio decoded = fixtures::DecodeAudio(output);
        const double scale = decoded.sampleRate / 44100.0;
        std::vector<int64_t> expected;
        for (const int64_t frame : clicks.clickFrames)
            expected.push_back(std::llround(frame * scale));
        const auto off = kLengthOff.find(format.Format);
        EXPECT_EQ(static_cast<int64_t>(decoded.Frames()),
                  std::llround(24000 * scale) + (off == kLengthOff.end() ? 0 : off->second));
        EXPECT_EQ(fixtures::FindClicks(decoded.samples, decoded.channels, 0), expected);
    }
}

// Lossless: FLAC and ALAC decode to the very samples of a 24-bit 96 kHz source, at its
// rate, bits and channels; a 16-bit source stays 16-bit.
TEST_F(TargetFormatsTest, LosslessFormatsKeepEveryBitOfTheSource)
{
    std::string bytes;
    for (uint32_t i = 0; i < 9600 * 2; ++i)
        bytes += std::string{static_cast<char>(i * 37), static_cast<char>(i * 11),
                             static_cast<char>(i * 5 + 128)};
    const std::string deep = fixtures::MakeRawFile(
        dir_.File("deep.wav"),
        fixtures::WavHeader(96000, 2, static_cast<uint32_t>(bytes.size()), 24) + bytes);
    const std::string shallow = fixtures::MakeWav(dir_.File("shallow.wav"), {});
    for (const TTargetFormat format : {TTargetFormat::Flac, TTargetFormat::Alac}) {
        for (const auto& [input, bits] : {std::pair{deep, 24}, std::pair{shallow, 16}}) {
            SCOPED_TRACE(std::string(FormatInfo(format).Name) + " from " + input);
            const std::string output = Convert(input, format);
            const fixtures::StreamInfo stream = fixtures::Probe(output).streams.at(0);
            EXPECT_EQ(stream.bitsPerSample, bits);
            const fixtures::DecodedAudio32 source = fixtures::DecodeAudio32(input);
            const fixtures::DecodedAudio32 decoded = fixtures::DecodeAudio32(output);
            EXPECT_EQ(decoded.sampleRate, source.sampleRate);
            EXPECT_EQ(decoded.channels, 2);
            EXPECT_TRUE(decoded.samples == source.samples);
        }
    }
}

// Six channels stay six where the format holds them, MP3 and WMA mix down to two; rates
// the format cannot write become the nearest it can.
TEST_F(TargetFormatsTest, ChannelsAndRatesAreWhatTheFormatCanHold)
{
    fixtures::AudioSpec surround;
    surround.channels = 6;
    surround.sampleRate = 88200;
    surround.seconds = 0.3;
    const std::string input = fixtures::MakeWav(dir_.File("surround.wav"), surround);
    const std::map<TTargetFormat, std::pair<int, int>> kExpected = {
        {TTargetFormat::Wma, {2, 48000}},  {TTargetFormat::Wav, {6, 88200}},
        {TTargetFormat::Mp3, {2, 44100}},  {TTargetFormat::Aac, {6, 88200}},
        {TTargetFormat::Opus, {6, 48000}}, {TTargetFormat::Vorbis, {6, 88200}},
        {TTargetFormat::Flac, {6, 88200}}, {TTargetFormat::Alac, {6, 88200}}};
    for (const auto& [format, expected] : kExpected) {
        SCOPED_TRACE(FormatInfo(format).Name);
        const std::string output = Convert(input, format);
        if (output.empty())
            continue;
        const fixtures::DecodedAudio decoded = fixtures::DecodeAudio(output);
        EXPECT_EQ(std::pair(decoded.channels, decoded.sampleRate), expected);
    }
}

}  // namespace
}  // namespace kelvaro
