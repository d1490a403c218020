// Every audio format through the rule and the engine, read back through the libraries.

#include "converter/target_formats.h"

#include <gtest/gtest.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/xiphcomment.h>

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
        warning_ = job.TranscodeWarning;
        return output;
    }

    fixtures::TempDir dir_;
    std::mutex codecLock_;
    std::string warning_;  // of the last conversion
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

// Every tag of a richly tagged input, and its cover byte for byte, in every format that has
// tags; read back through TagLib and the libraries' demuxers.
TEST_F(TargetFormatsTest, EveryTagAndTheCoverReachEveryTaggedFormat)
{
    fixtures::AudioSpec audio;
    audio.seconds = 0.3;
    const std::string input = fixtures::MakeFlac(dir_.File("tagged.flac"), audio);
    const std::map<std::string, std::string> kTags = {
        {"TITLE", "Ünïcödé — title"},
        {"ARTIST", "Artist"},
        {"ALBUM", "Album"},
        {"ALBUMARTIST", "Various"},
        {"TRACKNUMBER", "3/12"},
        {"DISCNUMBER", "1/2"},
        {"DATE", "2019"},
        {"GENRE", "Jazz"},
        {"COMPOSER", "Composer"},
        {"REPLAYGAIN_TRACK_GAIN", "-6.50 dB"},
        {"MUSICBRAINZ_TRACKID", "0c6b2f47-9f3c-4e6c-8b8e-6a0d1b1f1e2a"},
        {"MOOD", "calm"}};
    const std::string png = std::string("\x89PNG\r\n\x1A\n", 8) + std::string(3000, '\x42');
    {
        TagLib::FLAC::File file(input.c_str(), false);
        TagLib::PropertyMap properties;
        for (const auto& [name, value] : kTags)
            properties.insert(name, TagLib::String(value, TagLib::String::UTF8));
        file.xiphComment(true)->setProperties(properties);
        auto picture = std::make_unique<TagLib::FLAC::Picture>();
        picture->setMimeType("image/png");
        picture->setData(TagLib::ByteVector(png.data(), static_cast<unsigned>(png.size())));
        file.addPicture(picture.release());
        ASSERT_TRUE(file.save());
    }
    for (const TFormatInfo& format : TargetFormats()) {
        if (format.Format == TTargetFormat::Wav)
            continue;  // RIFF INFO holds the muxer's few fields
        SCOPED_TRACE(format.Name);
        const std::string output = Convert(input, format.Format);
        if (output.empty())
            continue;
        // TagLib 1 reads MP4's free-form atoms and ASF's own attributes only by their names
        // in the file, which the demuxers give.
        const TagLib::FileRef file(output.c_str(), false);
        ASSERT_FALSE(file.isNull());
        const TagLib::PropertyMap read = file.file()->properties();
        const fixtures::MediaInfo info = fixtures::Probe(output);
        for (const auto& [name, value] : kTags) {
            const auto found = read.find(name);
            const auto demuxed = info.metadata.find(name);
            EXPECT_EQ(found != read.end()              ? found->second.toString().to8Bit(true)
                      : demuxed != info.metadata.end() ? demuxed->second
                                                       : "(none)",
                      value)
                << name;
        }
        int coverStream = -1;
        for (size_t i = 0; i < info.streams.size(); ++i)
            if (info.streams[i].type == "video")
                coverStream = static_cast<int>(i);
        ASSERT_GE(coverStream, 0);
        const std::vector<std::vector<uint8_t>> packets =
            fixtures::ReadPackets(output, coverStream);
        ASSERT_FALSE(packets.empty());
        EXPECT_EQ(std::string(packets[0].begin(), packets[0].end()), png);
    }
}

// A bit rate the encoder would not write fails the file before its output is opened.
TEST_F(TargetFormatsTest, ABitRateTheEncoderWouldNotWriteFailsTheFileSayingWhy)
{
    fixtures::AudioSpec mono;
    mono.channels = 1;
    mono.sampleRate = 8000;
    mono.seconds = 0.2;
    const std::string input = fixtures::MakeWav(dir_.File("mono.wav"), mono);
    const std::tuple<TTargetFormat, int32_t, std::string> kCases[] = {
        {TTargetFormat::Aac, 512000,
         "the AAC encoder writes at most 48000 bit/s at 8000 Hz with 1 channel, not 512000"},
        {TTargetFormat::Opus, 300000,
         "the Opus encoder refuses 300000 bit/s at 48000 Hz with 1 channel"},
        {TTargetFormat::Mp3, 320000, ""}};
    for (const auto& [format, bitRate, reason] : kCases) {
        TConversionSettings settings;
        settings.BitRate = bitRate;
        TFFmpegHlpr job(codecLock_);
        job.Reset();
        job.SetLogLevel(-1);
        EXPECT_EQ(ConversionSetUp(input, format, dir_.File("mono.out"), {}, settings)(job),
                  reason.empty());
        EXPECT_EQ(job.LastError, reason);
        job.ReleaseFiles();
    }
}

// A cover that is no picture, or larger than the format holds, is left out with a warning
// that says so; the output is written all the same.
TEST_F(TargetFormatsTest, ACoverThatCannotBeCarriedIsLeftOutSayingWhy)
{
    const std::pair<std::string, std::string> kCases[] = {
        {std::string(64, 'x'),
         "the cover is not a JPEG, PNG, GIF, BMP or WebP picture and was "
         "left out"},
        {std::string("\xFF\xD8\xFF", 3) + std::string(17 << 20, '\0'),
         "the cover (17825795 bytes) is larger than FLAC holds and was left out"}};
    for (const auto& [picture, warning] : kCases) {
        const std::string input = fixtures::MakeMp3(dir_.File("cover.mp3"), {});
        {
            TagLib::MPEG::File file(input.c_str(), false);
            auto frame = std::make_unique<TagLib::ID3v2::AttachedPictureFrame>();
            frame->setMimeType("image/jpeg");
            frame->setPicture(
                TagLib::ByteVector(picture.data(), static_cast<unsigned>(picture.size())));
            file.ID3v2Tag(true)->addFrame(frame.release());
            ASSERT_TRUE(file.save());
        }
        const std::string output = Convert(input, TTargetFormat::Flac);
        EXPECT_EQ(warning_, warning);
        EXPECT_EQ(fixtures::Probe(output).streams.size(), 1u) << "the sound, no picture";
    }
}

}  // namespace
}  // namespace kelvaro
