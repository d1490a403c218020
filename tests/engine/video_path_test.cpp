#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "engine/job.h"
#include "engine/transcode_state.h"
#include "fixtures/media_fixtures.h"
#include "medialib/media_functions.h"
#include "support/test_support.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace kelvaro {
namespace {

namespace fs = std::filesystem;
using namespace fixtures;

// A job whose transcode the test drives piece by piece.
class VideoPathJob final : public TCustomFFmpegHlpr {
public:
    using TCustomFFmpegHlpr::TCustomFFmpegHlpr;
    ~VideoPathJob() override { StopAndWait(); }
    using TCustomFFmpegHlpr::DoVideoOutput;
    using TCustomFFmpegHlpr::ReleaseTranscodeState;
    using TCustomFFmpegHlpr::SetUpTranscode;
};

// One job converting one input into one output; `configure` runs between the two opens.
class Conversion {
public:
    explicit Conversion(std::mutex& lock) : job_(lock)
    {
        job_.Reset();
        job_.SetLogLevel(-1);
        job_.LogHandler = [this](TCustomFFmpegHlpr&, int level, const std::string& text) {
            log.emplace_back(level, text);
        };
    }
    ~Conversion() { job_.SetLogLevel(1); }

    TCustomFFmpegHlpr& Job() { return job_; }
    bool Run(const std::string& input, const std::string& output,
             const std::function<void(TCustomFFmpegHlpr&)>& configure = {})
    {
        if (!job_.OpenInputFile(input)) {
            error = job_.LastError;
            return false;
        }
        if (configure)
            configure(job_);
        if (!job_.OpenOutputFile(output)) {
            error = job_.LastError;
            return false;
        }
        try {
            job_.StartTranscode(false, tpNormal);
        } catch (const FFMpegException& failure) {
            error = failure.what();
            return false;
        }
        return job_.Finished;
    }
    std::vector<std::string> Lines(int level, const std::string& start) const
    {
        std::vector<std::string> lines;
        for (const auto& [lineLevel, text] : log)
            if (lineLevel == level && text.rfind(start, 0) == 0)
                lines.push_back(text);
        return lines;
    }

    std::string error;
    std::vector<std::pair<int, std::string>> log;

private:
    TCustomFFmpegHlpr job_;
};

VideoSpec Pictures(int width, int height, double seconds)
{
    VideoSpec video;
    video.width = width;
    video.height = height;
    video.seconds = seconds;
    return video;
}

// The planes of a yuv420p picture packed one after the other, as DecodeVideo keeps them.
struct Planes {
    const uint8_t* data[3];
    int lines[3];
    Planes(const std::vector<uint8_t>& picture, int width, int height)
        : data{picture.data(), picture.data() + width * height,
               picture.data() + width * height + width * height / 4},
          lines{width, width / 2, width / 2}
    {
    }
};

// Rows [first, last) of one plane of a packed yuv420p picture.
std::vector<uint8_t> Rows(const std::vector<uint8_t>& picture, int width, int height, int plane,
                          int first, int last)
{
    const Planes planes(picture, width, height);
    const uint8_t* start = planes.data[plane] + first * planes.lines[plane];
    return {start, start + (last - first) * planes.lines[plane]};
}

// A packed yuv420p picture with `left` and `right` columns cropped, scaled as the engine's
// scaler does by default (bicubic), packed again.
std::vector<uint8_t> Scaled(const std::vector<uint8_t>& picture, int width, int height, int left,
                            int right, int toWidth, int toHeight)
{
    SwsContext* scaler =
        sws_getContext(width - left - right, height, AV_PIX_FMT_YUV420P, toWidth, toHeight,
                       AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
    const Planes in(picture, width, height);
    const uint8_t* cropped[3] = {in.data[0] + left, in.data[1] + left / 2, in.data[2] + left / 2};
    std::vector<uint8_t> scaled(static_cast<size_t>(toWidth * toHeight * 3 / 2));
    uint8_t* planes[3] = {scaled.data(), scaled.data() + toWidth * toHeight,
                          scaled.data() + toWidth * toHeight * 5 / 4};
    const int lines[3] = {toWidth, toWidth / 2, toWidth / 2};
    sws_scale(scaler, cropped, in.lines, 0, height, planes, lines);
    sws_freeContext(scaler);
    return scaled;
}

class VideoPath : public ::testing::Test {
protected:
    void SetUp() override { test::LoadMediaLibrariesForTest(); }
    std::string File(const std::string& name) { return folder_.File(name); }

    TempDir folder_;
    std::mutex lock_;
};

struct SyncOutcome {
    int32_t copies = 0;
    int32_t dups = 0;
    int32_t drops = 0;
    int64_t clock = 0;
    std::vector<std::string> lines;
};

// Hands pictures whose sync clock reads `seconds` to a fresh 25-frame output whose clock
// stands at `outputClock`, one after the other, as the decoder would.
std::vector<SyncOutcome> WritePicturesAt(std::mutex& lock, const std::string& input,
                                         const std::string& output, int mode, int64_t outputClock,
                                         const std::vector<double>& seconds)
{
    VideoPathJob job(lock);
    job.Reset();
    job.SetLogLevel(-1);
    std::vector<std::string> lines;
    job.LogHandler = [&](TCustomFFmpegHlpr&, int, const std::string& text) {
        lines.push_back(text);
    };
    EXPECT_TRUE(job.OpenInputFile(input));
    EXPECT_TRUE(job.OpenOutputFile(output));
    job.VideoSyncMode = mode;
    job.JobLogLevel = 3;
    job.SetUpTranscode();
    TOutputStreamState& stream = *job.OutputStreams[0];
    TInputStreamState& source = *job.InputStreams[stream.SourceIndex];
    stream.OutputClock = outputClock;
    FramePtr picture(avutil.av_frame_alloc());
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = 320;
    picture->height = 240;
    EXPECT_EQ(avutil.av_frame_get_buffer(picture.get(), 0), 0);
    std::vector<SyncOutcome> outcomes;
    for (const double time : seconds) {
        const int32_t frames = stream.FrameNumber;
        lines.clear();
        source.Pts = std::llround(time * 1e6);
        job.DoVideoOutput(stream, source, *picture);
        outcomes.push_back({stream.FrameNumber - frames, job.DupFrames, job.DropFrames,
                            stream.OutputClock, lines});
    }
    job.ReleaseTranscodeState();
    job.SetLogLevel(1);
    return outcomes;
}

TEST_F(VideoPath, TheSyncClockDuplicatesDropsAndRestampsPictures)
{
    const std::string input = MakeVideo(File("in.nut"), Pictures(320, 240, 0.2));
    const auto at = [&](int mode, std::vector<double> seconds) {
        return WritePicturesAt(lock_, input, File("out.nut"), mode, 100, seconds);
    };
    using Lines = std::vector<std::string>;

    // Duplicate and drop, against a clock at frame 100 of 1/25.
    const SyncOutcome on = at(1, {4.0})[0];
    EXPECT_EQ(on.copies, 1);
    EXPECT_EQ(on.clock, 101);
    const SyncOutcome late = at(1, {4.1})[0];  // 102.5 frames: 2.5 behind, rounded to even
    EXPECT_EQ(late.copies, 2);
    EXPECT_EQ(late.dups, 1) << "one picture more than given";
    EXPECT_EQ(late.lines, Lines{"*** 1 dup!"});
    const SyncOutcome early = at(1, {3.9})[0];  // 2.5 ahead
    EXPECT_EQ(early.copies, 0);
    EXPECT_EQ(early.drops, 1);
    EXPECT_EQ(early.clock, 100);
    EXPECT_EQ(early.lines, Lines{"*** drop!"});
    // 1.1 frames either way is still one picture.
    EXPECT_EQ(at(1, {4.044})[0].copies, 1);
    const SyncOutcome edge = at(1, {3.956})[0];
    EXPECT_EQ(edge.copies, 1);
    EXPECT_EQ(edge.drops + edge.dups, 0);
    EXPECT_TRUE(edge.lines.empty());

    // Re-stamping takes the clock's frame (102.5 rounds to 102) for one picture; a picture
    // whose frame the encoder already had is dropped rather than failing the encoder.
    const std::vector<SyncOutcome> restamped = at(2, {4.1, 4.1, 4.2});
    EXPECT_EQ(restamped[0].copies, 1);
    EXPECT_EQ(restamped[0].clock, 103);
    EXPECT_EQ(restamped[1].copies, 0);
    EXPECT_EQ(restamped[1].drops, 1);
    EXPECT_EQ(restamped[1].clock, 103);
    EXPECT_EQ(restamped[2].copies, 1);
    EXPECT_EQ(restamped[2].clock, 106);
    EXPECT_EQ(restamped[2].dups, 0);
    // Without sync the clock follows the pictures the same way.
    EXPECT_EQ(at(0, {4.1})[0].clock, 103);
}

TEST_F(VideoPath, PresetsWriteTheirCodecsSizesRatesAndMuxerSettings)
{
    VideoSpec video = Pictures(320, 240, 1.0);
    AudioSpec audio;
    audio.seconds = 1.0;
    const std::string input = MakeMpegPs(File("in.mpg"), video, audio);

    struct Expected {
        std::string target, norm, videoCodec;
        int width, height;
        std::string pixelFormat;
        int fpsNum, fpsDen;
        size_t pictures;
        std::string audioCodec;
        int sampleRate;
        int64_t audioBitRate;
        int64_t peakBitRate;  // MPEG: the sequence header's bit rate and buffer, in bits
        int bufferBits;
        int sector;       // MPEG: every pack fills a sector of this size; DV: a frame
        int64_t muxRate;  // MPEG: the pack header's rate in bits per second, when set
    };
    const Expected presets[] = {
        {"vcd", "auto", "mpeg1video", 352, 288, "yuv420p", 25, 1, 25, "mp2", 44100, 224000, 1150000,
         327680, 2324, 1411200},
        {"svcd", "auto", "mpeg2video", 480, 576, "yuv420p", 25, 1, 25, "mp2", 44100, 224000,
         2516000, 1835008, 2324, 0},
        {"dvd", "auto", "mpeg2video", 720, 576, "yuv420p", 25, 1, 25, "ac3", 48000, 448000, 9000000,
         1835008, 2048, 10080000},
        {"dv", "auto", "dvvideo", 720, 576, "yuv420p", 25, 1, 25, "pcm_s16le", 48000, 1536000, 0, 0,
         144000, 0},
        {"dv50", "auto", "dvvideo", 720, 576, "yuv422p", 25, 1, 25, "pcm_s16le", 48000, 1536000, 0,
         0, 288000, 0},
        // 25 pictures a second into 30000/1001: four of them are written twice.
        {"dv", "ntsc", "dvvideo", 720, 480, "yuv411p", 30000, 1001, 29, "pcm_s16le", 48000, 1536000,
         0, 0, 120000, 0},
    };
    for (const Expected& preset : presets) {
        const std::string output = File(preset.target + "-" + preset.norm);
        SCOPED_TRACE(output);
        Conversion conversion(lock_);
        ASSERT_TRUE(conversion.Run(input, output, [&](TCustomFFmpegHlpr& job) {
            job.SetTarget(preset.target, preset.norm, "pal");
        })) << conversion.error;
        EXPECT_EQ(conversion.Job().DupFrames, static_cast<int32_t>(preset.pictures) - 25);

        const MediaInfo info = Probe(output);
        const auto index = [&](const std::string& type) {
            return static_cast<int>(
                std::find_if(info.streams.begin(), info.streams.end(),
                             [&](const StreamInfo& s) { return s.type == type; }) -
                info.streams.begin());
        };
        const auto stream = [&](const std::string& type) {
            const size_t i = static_cast<size_t>(index(type));
            return i < info.streams.size() ? info.streams[i] : StreamInfo{};
        };
        const StreamInfo picture = stream("video");
        EXPECT_EQ(picture.codec, preset.videoCodec);
        EXPECT_EQ(picture.width, preset.width);
        EXPECT_EQ(picture.height, preset.height);
        EXPECT_EQ(picture.pixelFormat, preset.pixelFormat);
        EXPECT_EQ(picture.fpsNum, preset.fpsNum);
        EXPECT_EQ(picture.fpsDen, preset.fpsDen);
        const StreamInfo sound = stream("audio");
        EXPECT_EQ(sound.codec, preset.audioCodec);
        EXPECT_EQ(sound.sampleRate, preset.sampleRate);
        EXPECT_EQ(sound.channels, 2);
        EXPECT_EQ(sound.bitRate, preset.audioBitRate);

        const DecodedVideo decoded = DecodeVideo(output);
        EXPECT_EQ(decoded.times.size(), preset.pictures);
        const uintmax_t size = fs::file_size(output);
        if (preset.videoCodec == "dvvideo") {
            EXPECT_EQ(decoded.pictureTypes, std::string(preset.pictures, 'I'));
            EXPECT_EQ(size, preset.pictures * preset.sector) << "one DV frame per picture";
            continue;
        }
        // A group of 15 pictures (PAL), each opened by an intra picture.
        EXPECT_EQ(decoded.pictureTypes, "I" + std::string(14, 'P') + "I" + std::string(9, 'P'));
        EXPECT_EQ(size % preset.sector, 0u);

        const std::vector<Packet> pictures = ReadStreamPackets(output, index("video"));
        ASSERT_FALSE(pictures.empty());
        const std::vector<uint8_t>& header = pictures[0].data;
        ASSERT_GE(header.size(), 12u);
        ASSERT_EQ(std::vector<uint8_t>(header.begin(), header.begin() + 4),
                  (std::vector<uint8_t>{0, 0, 1, 0xB3}))
            << "a sequence header opens the first picture";
        const int64_t rate = (header[8] << 10 | header[9] << 2 | header[10] >> 6) * 400;
        const int buffer = ((header[10] & 0x1F) << 5 | header[11] >> 3) * 16384;
        EXPECT_EQ(rate, preset.peakBitRate);
        EXPECT_EQ(buffer, preset.bufferBits);

        std::ifstream file(output, std::ios::binary);
        std::vector<uint8_t> pack(16);
        file.read(reinterpret_cast<char*>(pack.data()), 16);
        ASSERT_EQ(std::vector<uint8_t>(pack.begin(), pack.begin() + 4),
                  (std::vector<uint8_t>{0, 0, 1, 0xBA}));
        const bool mpeg2 = (pack[4] & 0xC0) == 0x40;
        const int64_t muxRate = (mpeg2 ? (pack[10] << 14 | pack[11] << 6 | pack[12] >> 2)
                                       : ((pack[9] & 0x7F) << 15 | pack[10] << 7 | pack[11] >> 1)) *
                                400;
        if (preset.muxRate > 0) {
            EXPECT_EQ(muxRate, preset.muxRate);
        }
    }
}

TEST_F(VideoPath, CropAndPadWithoutScalingPaintTheBandsAroundThePicture)
{
    const std::string input = MakeVideo(File("in.nut"), Pictures(640, 480, 0.4));
    Conversion conversion(lock_);
    ASSERT_TRUE(conversion.Run(input, File("out.nut"), [](TCustomFFmpegHlpr& job) {
        job.SetCropTop(8);
        job.SetCropBottom(8);
        job.SetPadTop(8);
        job.SetPadBottom(8);
        job.SetPadColor(0x0000FF);  // red: Y 76, U 85, V 255
        job.SetVideoCodec("rawvideo");
    })) << conversion.error;

    const DecodedVideo source = DecodeVideo(input, true);
    const DecodedVideo result = DecodeVideo(File("out.nut"), true);
    ASSERT_EQ(result.pictures.size(), 10u);
    ASSERT_EQ(result.width, 640);
    ASSERT_EQ(result.height, 480);
    const int colour[3] = {76, 85, 255};
    for (size_t i = 0; i < result.pictures.size(); ++i) {
        SCOPED_TRACE(i);
        const std::vector<uint8_t>& in = source.pictures[i];
        const std::vector<uint8_t>& out = result.pictures[i];
        for (int plane = 0; plane < 3; ++plane) {
            const int shift = plane ? 1 : 0, rows = 480 >> shift, band = 8 >> shift;
            const std::vector<uint8_t> paint(static_cast<size_t>(band * (640 >> shift)),
                                             static_cast<uint8_t>(colour[plane]));
            EXPECT_EQ(Rows(out, 640, 480, plane, 0, band), paint) << "top band, plane " << plane;
            EXPECT_EQ(Rows(out, 640, 480, plane, rows - band, rows), paint)
                << "bottom band, plane " << plane;
            EXPECT_EQ(Rows(out, 640, 480, plane, band, rows - band),
                      Rows(in, 640, 480, plane, band, rows - band))
                << "the cropped picture, unscaled, plane " << plane;
        }
    }
}

TEST_F(VideoPath, AScaledPictureFillsThePaddedFrameAsTheScalerMakesIt)
{
    const std::string input = MakeVideo(File("in.nut"), Pictures(320, 240, 0.4));
    Conversion conversion(lock_);
    ASSERT_TRUE(conversion.Run(input, File("out.nut"), [](TCustomFFmpegHlpr& job) {
        job.SetCropLeft(16);
        job.SetCropRight(16);
        job.SetFrameSize("576x464");
        job.SetPadTop(8);
        job.SetPadBottom(8);
        job.SetVideoCodec("rawvideo");
    })) << conversion.error;

    const DecodedVideo source = DecodeVideo(input, true);
    const DecodedVideo result = DecodeVideo(File("out.nut"), true);
    ASSERT_EQ(result.pictures.size(), 10u);
    ASSERT_EQ(result.width, 576);
    ASSERT_EQ(result.height, 480);
    for (size_t i = 0; i < result.pictures.size(); ++i) {
        SCOPED_TRACE(i);
        const std::vector<uint8_t> scaled = Scaled(source.pictures[i], 320, 240, 16, 16, 576, 464);
        const std::vector<uint8_t>& out = result.pictures[i];
        for (int plane = 0; plane < 3; ++plane) {
            const int shift = plane ? 1 : 0, band = 8 >> shift, rows = 480 >> shift;
            EXPECT_EQ(Rows(out, 576, 480, plane, band, rows - band),
                      Rows(scaled, 576, 464, plane, 0, 464 >> shift))
                << "plane " << plane;
            EXPECT_EQ(
                Rows(out, 576, 480, plane, 0, band),
                std::vector<uint8_t>(static_cast<size_t>(band * (576 >> shift)), plane ? 128 : 16))
                << "black by default, plane " << plane;
        }
    }
}

TEST_F(VideoPath, PicturesKeepTheirTimesThroughBFramesAndTheEncoderDrainLosesNone)
{
    // 25 pictures a second, a gap of a second, then 10 more; stored with B-frames, so that
    // pictures leave the decoder later than their packets, and in another order. The muxer
    // keeps the first packet at 0, which puts the pictures one period later: 0.04 to 1.0 s,
    // then 2.04 to 2.4 s.
    VideoStorage storage;
    storage.maxBFrames = 2;
    for (int i = 0; i < 35; ++i)
        storage.frameTimes.push_back(i < 25 ? i * 0.04 : 2.0 + (i - 25) * 0.04);
    const std::string input = MakeVideo(File("in.nut"), Pictures(320, 240, 0), storage);
    const DecodedVideo source = DecodeVideo(input, true);
    ASSERT_EQ(source.pictures.size(), 35u);

    // The first picture after the gap fills it: 26 times, from 1.0 s to 2.04 s. A decoder
    // with frame threads holds three pictures more before it gives one back.
    Conversion raw(lock_);
    raw.Job().ThreadCount = 4;
    ASSERT_TRUE(raw.Run(input, File("raw.nut"), [](TCustomFFmpegHlpr& job) {
        job.SetVideoCodec("rawvideo");
    })) << raw.error;
    EXPECT_EQ(raw.Job().DupFrames, 25);
    EXPECT_EQ(raw.Job().DropFrames, 0);
    const DecodedVideo result = DecodeVideo(File("raw.nut"), true);
    ASSERT_EQ(result.pictures.size(), 60u);
    for (size_t i = 0; i < result.pictures.size(); ++i) {
        const size_t picture = i < 25 ? i : (i < 51 ? 25 : i - 25);
        EXPECT_TRUE(result.pictures[i] == source.pictures[picture]) << "output picture " << i;
    }

    // An encoder with B-frames holds the last pictures until it is drained.
    Conversion bFrames(lock_);
    ASSERT_TRUE(bFrames.Run(input, File("b.mp4"), [](TCustomFFmpegHlpr& job) {
        job.SetVideoCodec("mpeg4");
        job.SetOption("bf", "2");
    })) << bFrames.error;
    const DecodedVideo encoded = DecodeVideo(File("b.mp4"));
    EXPECT_EQ(encoded.times.size(), 60u);
    EXPECT_NE(encoded.pictureTypes.find('B'), std::string::npos) << encoded.pictureTypes;
    EXPECT_DOUBLE_EQ(encoded.times.back(), 2.36);

    // A frame limit stops the stream after that many pictures.
    Conversion limited(lock_);
    ASSERT_TRUE(limited.Run(input, File("ten.mp4"), [](TCustomFFmpegHlpr& job) {
        job.MaxFrames[mkVideo] = 10;
    })) << limited.error;
    EXPECT_EQ(DecodeVideo(File("ten.mp4")).times.size(), 10u);
}

TEST_F(VideoPath, PicturesThatChangeSizeMidStreamAreScaledOrDroppedWhenTheCropMisses)
{
    const std::string input =
        MakeJoinedVideo(File("joined.nut"), {Pictures(320, 240, 0.4), Pictures(176, 144, 0.4)});

    // The decoder lets the last picture of the first part go when the size changes: 19
    // pictures, as the input's own decode gives them. Each part is scaled from its own size.
    Conversion scaled(lock_);
    ASSERT_TRUE(scaled.Run(input, File("scaled.nut"), [](TCustomFFmpegHlpr& job) {
        job.SetFrameSize("352x288");
        job.SetVideoCodec("rawvideo");
    })) << scaled.error;
    const DecodedVideo source = DecodeVideo(input, true);
    const DecodedVideo result = DecodeVideo(File("scaled.nut"), true);
    ASSERT_EQ(result.pictures.size(), 19u);
    EXPECT_EQ(result.width, 352);
    EXPECT_EQ(result.height, 288);
    for (size_t i = 0; i < result.pictures.size(); ++i) {
        const bool first = i < 9;
        EXPECT_TRUE(result.pictures[i] == Scaled(source.pictures[i], first ? 320 : 176,
                                                 first ? 240 : 144, 0, 0, 352, 288))
            << "picture " << i;
    }

    // 150 lines off the top leave 90 of the first part and nothing of the second.
    Conversion cropped(lock_);
    ASSERT_TRUE(cropped.Run(input, File("cropped.nut"), [](TCustomFFmpegHlpr& job) {
        job.SetCropTop(150);
    })) << cropped.error;
    EXPECT_EQ(cropped.Lines(0, "error cropping picture").size(), 10u);
    const DecodedVideo kept = DecodeVideo(File("cropped.nut"));
    EXPECT_EQ(kept.times.size(), 9u);
    EXPECT_EQ(kept.height, 90);
}

TEST_F(VideoPath, TwoPassesShareTheirStatisticsFile)
{
    const std::string input = MakeVideo(File("in.nut"), Pictures(320, 240, 1.0));
    const std::string stats = File("pass");
    for (int pass : {1, 2}) {
        SCOPED_TRACE(pass);
        Conversion conversion(lock_);
        ASSERT_TRUE(conversion.Run(input, File("pass" + std::to_string(pass) + ".nut"),
                                   [&](TCustomFFmpegHlpr& job) {
                                       job.SetVideoCodec("mpeg4");
                                       job.SetOption("bf", "2");
                                       job.PassNumber = pass;
                                       job.PassLogBaseName = stats;
                                   }))
            << conversion.error;
        EXPECT_EQ(DecodeVideo(File("pass" + std::to_string(pass) + ".nut")).times.size(), 25u);
        if (pass == 1) {
            // One line per coded picture, the two the drain brings out included.
            std::ifstream file(stats + "-0.log");
            int pictures = 0;
            for (std::string line; std::getline(file, line);)
                pictures += line.rfind("in:", 0) == 0;
            EXPECT_EQ(pictures, 25);
        }
    }
}

TEST_F(VideoPath, ProgressAndTheStatisticsFileFollowEveryPicture)
{
    const std::string input = MakeVideo(File("in.nut"), Pictures(320, 240, 1.0));
    Conversion conversion(lock_);
    std::vector<std::tuple<int32_t, int32_t, float>> reports;
    conversion.Job().ProgressHandler = [&](TCustomFFmpegHlpr&, int32_t frame, int32_t fps, int32_t,
                                           float quality, float, int64_t,
                                           int32_t) { reports.emplace_back(frame, fps, quality); };
    conversion.Job().ReportInterval = 0;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(conversion.Run(input, File("out.nut"), [&](TCustomFFmpegHlpr& job) {
        job.SetVideoCodec("mpeg4");
        job.VideoQScale = 4;
        job.ComputePsnr = 1;
        job.VideoStatsFileName = File("vstats.log");
    })) << conversion.error;
    const bool withinASecond = std::chrono::steady_clock::now() - start < std::chrono::seconds(1);

    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(std::get<0>(reports.back()), 25) << "the last report counts every picture";
    EXPECT_FLOAT_EQ(std::get<2>(reports.back()), 4.0f) << "the quantiser of the last picture";
    if (withinASecond) {
        EXPECT_EQ(std::get<1>(reports.back()), 0) << "no rate in the first second";
    }
    for (size_t i = 1; i < reports.size(); ++i)
        EXPECT_GE(std::get<0>(reports[i]), std::get<0>(reports[i - 1]));

    std::ifstream file(File("vstats.log"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 25u);
    for (size_t i = 0; i < lines.size(); ++i) {
        char start[64];
        std::snprintf(start, sizeof start, "frame= %5zu q= 4.0 PSNR= ", i + 1);
        EXPECT_EQ(lines[i].rfind(start, 0), 0u) << lines[i];
        EXPECT_NE(lines[i].find(" f_size= "), std::string::npos) << lines[i];
        EXPECT_EQ(lines[i].substr(lines[i].size() - 7), i % 12 == 0 ? "type= I" : "type= P");
    }
}

}  // namespace
}  // namespace kelvaro
