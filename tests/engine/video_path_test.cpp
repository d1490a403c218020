#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>

#include "engine/job.h"
#include "engine/text_format.h"
#include "engine/transcode_state.h"
#include "engine_conversion.h"
#include "fixtures/media_fixtures.h"
#include "medialib/media_functions.h"
#include "support/test_support.h"

extern "C" {
#include <libavformat/avformat.h>
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
class Conversion : public test::EngineConversion {
public:
    using EngineConversion::EngineConversion;
    bool Run(const std::string& input, const std::string& output,
             const std::function<void(TCustomFFmpegHlpr&)>& configure = {})
    {
        return Open(input, output, configure) && EngineConversion::Run();
    }
};

VideoSpec Pictures(int width, int height, double seconds)
{
    VideoSpec video;
    video.width = width;
    video.height = height;
    video.seconds = seconds;
    return video;
}

// What a packed yuv420p picture of `width` x `height` should become: cropped by `crop` (top,
// bottom, left, right), scaled as the engine's default scaler does (bicubic) unless it already
// has the inner size, and framed by the `pad` bands in `colour` (Y, U, V) to `outWidth` x
// `outHeight`. Packed again.
std::vector<uint8_t> Framed(const std::vector<uint8_t>& picture, int width, int height,
                            std::array<int, 4> crop, int outWidth, int outHeight,
                            std::array<int, 4> pad, std::array<uint8_t, 3> colour)
{
    const int innerWidth = outWidth - pad[2] - pad[3], innerHeight = outHeight - pad[0] - pad[1];
    const int croppedWidth = width - crop[2] - crop[3], croppedHeight = height - crop[0] - crop[1];
    const uint8_t* in[3];
    uint8_t* out[3];
    int inLines[3], outLines[3];
    std::vector<uint8_t> framed(static_cast<size_t>(outWidth * outHeight * 3 / 2));
    for (int plane = 0, inOffset = 0, outOffset = 0; plane < 3; ++plane) {
        const int shift = plane ? 1 : 0;
        inLines[plane] = width >> shift;
        outLines[plane] = outWidth >> shift;
        in[plane] =
            picture.data() + inOffset + (crop[0] >> shift) * inLines[plane] + (crop[2] >> shift);
        out[plane] = framed.data() + outOffset;
        std::fill_n(out[plane], outLines[plane] * (outHeight >> shift), colour[plane]);
        out[plane] += (pad[0] >> shift) * outLines[plane] + (pad[2] >> shift);
        inOffset += inLines[plane] * (height >> shift);
        outOffset += outLines[plane] * (outHeight >> shift);
    }
    if (croppedWidth == innerWidth && croppedHeight == innerHeight) {
        for (int plane = 0; plane < 3; ++plane)
            for (int y = 0; y < croppedHeight >> (plane ? 1 : 0); ++y)
                std::copy_n(in[plane] + y * inLines[plane], croppedWidth >> (plane ? 1 : 0),
                            out[plane] + y * outLines[plane]);
        return framed;
    }
    SwsContext* scaler =
        sws_getContext(croppedWidth, croppedHeight, AV_PIX_FMT_YUV420P, innerWidth, innerHeight,
                       AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
    sws_scale(scaler, in, inLines, 0, croppedHeight, out, outLines);
    sws_freeContext(scaler);
    return framed;
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
    // A gap up to the timestamp jump threshold (10 s) is filled; a longer one is not.
    EXPECT_EQ(at(1, {14.0})[0].copies, 250);
    const SyncOutcome jump = at(1, {14.1})[0];
    EXPECT_EQ(jump.copies, 1);
    EXPECT_EQ(jump.clock, 101);
    EXPECT_EQ(jump.dups, 0);

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

// What a preset's output says of itself, read back through the libraries and, for MPEG, from
// its first sequence header (peak bit rate, decoder buffer) and pack header (mux rate).
std::string Describe(const std::string& path)
{
    const MediaInfo info = Probe(path);
    std::string text;
    int video = -1;
    for (size_t i = 0; i < info.streams.size(); ++i) {
        const StreamInfo& s = info.streams[i];
        if (s.type == "video" && video < 0) {
            video = static_cast<int>(i);
            text += Format("%s %dx%d %s %d/%d %s", s.codec.c_str(), s.width, s.height,
                           s.pixelFormat.c_str(), s.fpsNum, s.fpsDen,
                           DecodeVideo(path).pictureTypes.c_str());
        } else if (s.type == "audio" && text.find(" Hz") == std::string::npos) {
            text += Format(", %s %d Hz %d ch %lld b/s", s.codec.c_str(), s.sampleRate, s.channels,
                           static_cast<long long>(s.bitRate));
        }
    }
    const std::vector<uint8_t> header = ReadStreamPackets(path, video).at(0).data;
    std::vector<uint8_t> pack(16);
    std::ifstream(path, std::ios::binary).read(reinterpret_cast<char*>(pack.data()), 16);
    if (header.size() < 12 || header[3] != 0xB3 || pack[3] != 0xBA)
        return text;
    const bool mpeg2 = (pack[4] & 0xC0) == 0x40;
    const int muxRate = mpeg2 ? (pack[10] << 14 | pack[11] << 6 | pack[12] >> 2)
                              : ((pack[9] & 0x7F) << 15 | pack[10] << 7 | pack[11] >> 1);
    return text + Format(", peak %d buffer %d mux %d",
                         (header[8] << 10 | header[9] << 2 | header[10] >> 6) * 400,
                         ((header[10] & 0x1F) << 5 | header[11] >> 3) * 16384, muxRate * 400);
}

TEST_F(VideoPath, PresetsWriteTheirCodecsSizesRatesAndMuxerSettings)
{
    AudioSpec audio;
    audio.seconds = 1.0;
    const std::string input = MakeMpegPs(File("in.mpg"), Pictures(320, 240, 1.0), audio);
    // Groups of 15 pictures (PAL), each opened by an intra picture.
    const std::string groups = "I" + std::string(14, 'P') + "I" + std::string(9, 'P');
    struct Preset {
        std::string target, norm, description;
        uintmax_t sector;  // MPEG: every pack fills one; DV: the size of a frame
    };
    const Preset presets[] = {
        {"vcd", "auto",
         "mpeg1video 352x288 yuv420p 25/1 " + groups +
             ", mp2 44100 Hz 2 ch 224000 b/s, peak 1150000 buffer 327680 mux 1411200",
         2324},
        // No mux rate in this preset: the muxer's own, from the streams' rates.
        {"svcd", "auto",
         "mpeg2video 480x576 yuv420p 25/1 " + groups +
             ", mp2 44100 Hz 2 ch 224000 b/s, peak 2516000 buffer 1835008 mux 2887200",
         2324},
        {"dvd", "auto",
         "mpeg2video 720x576 yuv420p 25/1 " + groups +
             ", ac3 48000 Hz 2 ch 448000 b/s, peak 9000000 buffer 1835008 mux 10080000",
         2048},
        {"dv", "auto",
         "dvvideo 720x576 yuv420p 25/1 " + std::string(25, 'I') +
             ", pcm_s16le 48000 Hz 2 ch 1536000 b/s",
         144000},
        {"dv50", "auto",
         "dvvideo 720x576 yuv422p 25/1 " + std::string(25, 'I') +
             ", pcm_s16le 48000 Hz 2 ch 1536000 b/s",
         288000},
        // 25 pictures a second into 30000/1001: four of them are written twice.
        {"dv", "ntsc",
         "dvvideo 720x480 yuv411p 30000/1001 " + std::string(29, 'I') +
             ", pcm_s16le 48000 Hz 2 ch 1536000 b/s",
         120000},
    };
    for (const Preset& preset : presets) {
        const std::string output = File(preset.target + "-" + preset.norm);
        Conversion conversion(lock_);
        ASSERT_TRUE(conversion.Run(input, output, [&](TCustomFFmpegHlpr& job) {
            job.SetTarget(preset.target, preset.norm, "pal");
        })) << conversion.error;
        EXPECT_EQ(Describe(output), preset.description);
        EXPECT_EQ(conversion.Job().DupFrames, preset.norm == "ntsc" ? 4 : 0) << output;
        const uintmax_t size = fs::file_size(output);
        if (preset.target.rfind("dv", 0) == 0 && preset.target != "dvd")
            EXPECT_EQ(size, (preset.norm == "ntsc" ? 29 : 25) * preset.sector) << output;
        else
            EXPECT_EQ(size % preset.sector, 0u) << output;
    }
}

TEST_F(VideoPath, CropScaleAndPadGiveThePicturesTheScalerAndThePadColourMake)
{
    using Bands = std::array<int, 4>;  // top, bottom, left, right
    const std::array<uint8_t, 3> black{16, 128, 128}, red{76, 85, 255};
    const auto convert = [&](const std::string& input, const std::string& output,
                             const std::function<void(TCustomFFmpegHlpr&)>& configure) {
        Conversion conversion(lock_);
        EXPECT_TRUE(conversion.Run(input, File(output), [&](TCustomFFmpegHlpr& job) {
            configure(job);
            job.SetVideoCodec("rawvideo");
        })) << conversion.error;
        return std::make_pair(DecodeVideo(File(output), true), conversion.log);
    };

    // Cropped and padded back to its size: not scaled, the bands in the pad colour.
    const std::string large = MakeVideo(File("large.nut"), Pictures(640, 480, 0.4));
    const DecodedVideo largeSource = DecodeVideo(large, true);
    const DecodedVideo unscaled = convert(large, "unscaled.nut", [](TCustomFFmpegHlpr& job) {
                                      job.SetCropTop(8);
                                      job.SetCropBottom(8);
                                      job.SetPadTop(8);
                                      job.SetPadBottom(8);
                                      job.SetPadColor(0x0000FF);
                                  }).first;
    ASSERT_EQ(unscaled.pictures.size(), 10u);
    for (size_t i = 0; i < 10; ++i)
        EXPECT_TRUE(unscaled.pictures[i] == Framed(largeSource.pictures[i], 640, 480,
                                                   Bands{8, 8, 0, 0}, 640, 480, Bands{8, 8, 0, 0},
                                                   red))
            << "picture " << i;

    // Cropped at the sides, scaled into the frame inside black bands.
    const std::string small = MakeVideo(File("small.nut"), Pictures(320, 240, 0.4));
    const DecodedVideo smallSource = DecodeVideo(small, true);
    const DecodedVideo scaled = convert(small, "scaled.nut", [](TCustomFFmpegHlpr& job) {
                                    job.SetCropLeft(16);
                                    job.SetCropRight(16);
                                    job.SetFrameSize("576x464");
                                    job.SetPadTop(8);
                                    job.SetPadBottom(8);
                                }).first;
    ASSERT_EQ(scaled.pictures.size(), 10u);
    EXPECT_EQ(scaled.width, 576);
    for (size_t i = 0; i < 10; ++i)
        EXPECT_TRUE(scaled.pictures[i] == Framed(smallSource.pictures[i], 320, 240,
                                                 Bands{0, 0, 16, 16}, 576, 480, Bands{8, 8, 0, 0},
                                                 black))
            << "picture " << i;

    // Pictures that change size mid-stream are each scaled from their own size. The decoder
    // lets the last picture of the first size go at the change: 19 pictures, as the input's
    // own decode gives them.
    const std::string joined =
        MakeJoinedVideo(File("joined.nut"), {Pictures(320, 240, 0.4), Pictures(176, 144, 0.4)});
    const DecodedVideo joinedSource = DecodeVideo(joined, true);
    const DecodedVideo resized = convert(joined, "resized.nut", [](TCustomFFmpegHlpr& job) {
                                     job.SetFrameSize("352x288");
                                 }).first;
    ASSERT_EQ(resized.pictures.size(), 19u);
    for (size_t i = 0; i < 19; ++i)
        EXPECT_TRUE(resized.pictures[i] == Framed(joinedSource.pictures[i], i < 9 ? 320 : 176,
                                                  i < 9 ? 240 : 144, Bands{}, 352, 288, Bands{},
                                                  black))
            << "picture " << i;
    // 150 lines off the top leave 90 of the first size and nothing of the second.
    const auto [cropped, log] =
        convert(joined, "cropped.nut", [](TCustomFFmpegHlpr& job) { job.SetCropTop(150); });
    EXPECT_EQ(cropped.pictures.size(), 9u);
    EXPECT_EQ(cropped.height, 90);
    EXPECT_EQ(std::count(log.begin(), log.end(),
                         std::make_pair(0, std::string("error cropping picture"))),
              10);
}

// `input` written again in its own format, packet by packet, with the presentation time of the
// `damaged`th packet of stream 0 moved `seconds` on, as a damaged header would.
std::string WithDamagedPts(const std::string& input, const std::string& output, int damaged,
                           double seconds)
{
    AVFormatContext* in = nullptr;
    EXPECT_EQ(avformat_open_input(&in, input.c_str(), nullptr, nullptr), 0);
    EXPECT_GE(avformat_find_stream_info(in, nullptr), 0);  // MPEG streams are found by reading
    AVFormatContext* out = nullptr;
    avformat_alloc_output_context2(&out, in->oformat, in->iformat->name, output.c_str());
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        AVStream* stream = avformat_new_stream(out, nullptr);
        avcodec_parameters_copy(stream->codecpar, in->streams[i]->codecpar);
        stream->codecpar->codec_tag = 0;
        stream->time_base = in->streams[i]->time_base;
    }
    EXPECT_GE(avio_open(&out->pb, output.c_str(), AVIO_FLAG_WRITE), 0);
    EXPECT_GE(avformat_write_header(out, nullptr), 0);
    AVPacket* packet = av_packet_alloc();
    for (int video = 0; av_read_frame(in, packet) >= 0;) {
        const AVRational base = in->streams[packet->stream_index]->time_base;
        if (packet->stream_index == 0 && video++ == damaged)
            packet->pts += std::llround(seconds * base.den / base.num);
        av_packet_rescale_ts(packet, base, out->streams[packet->stream_index]->time_base);
        EXPECT_GE(av_write_frame(out, packet), 0);
        av_packet_unref(packet);
    }
    av_write_trailer(out);
    av_packet_free(&packet);
    avio_closep(&out->pb);
    avformat_free_context(out);
    avformat_close_input(&in);
    return output;
}

TEST_F(VideoPath, PicturesKeepTheirTimesThroughBFramesTwoPassesAndTheEncoderDrain)
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

    // An encoder with B-frames holds the last pictures until it is drained. As a first pass
    // it describes every coded picture, the drain's included; the second pass reads that.
    for (int pass : {1, 2}) {
        const std::string output = File("pass" + std::to_string(pass) + ".mp4");
        Conversion encoded(lock_);
        ASSERT_TRUE(encoded.Run(input, output, [&](TCustomFFmpegHlpr& job) {
            job.SetVideoCodec("mpeg4");
            job.SetOption("bf", "2");
            job.PassNumber = pass;
            job.PassLogBaseName = File("stats");
        })) << encoded.error;
        const DecodedVideo pictures = DecodeVideo(output);
        EXPECT_EQ(pictures.times.size(), 60u) << output;
        EXPECT_NE(pictures.pictureTypes.find('B'), std::string::npos) << pictures.pictureTypes;
        EXPECT_DOUBLE_EQ(pictures.times.back(), 2.36) << output;
    }
    std::ifstream statistics(File("stats") + "-0.log");
    int described = 0;
    for (std::string line; std::getline(statistics, line);)
        described += line.rfind("in:", 0) == 0;
    EXPECT_EQ(described, 60);

    // A frame limit stops the stream after that many pictures.
    Conversion limited(lock_);
    ASSERT_TRUE(limited.Run(input, File("ten.mp4"), [](TCustomFFmpegHlpr& job) {
        job.MaxFrames[mkVideo] = 10;
    })) << limited.error;
    EXPECT_EQ(DecodeVideo(File("ten.mp4")).times.size(), 10u);

    // A picture stamped three hours after its own decoding time (a damaged MPEG header; it is
    // presented a period after it is decoded) takes the time its neighbours give it, instead
    // of being preceded by three hours of copies.
    const std::string mpeg = MakeMpegPs(File("in.mpg"), Pictures(320, 240, 1.0), AudioSpec{});
    const std::string damaged = WithDamagedPts(mpeg, File("damaged.mpg"), 10, 3 * 3600.0);
    Conversion repaired(lock_);
    repaired.Job().JobLogLevel = 1;
    ASSERT_TRUE(repaired.Run(damaged, File("repaired.nut"), [](TCustomFFmpegHlpr& job) {
        job.SetVideoCodec("rawvideo");
        job.AudioDisable = 1;
    })) << repaired.error;
    EXPECT_EQ(repaired.Job().DupFrames, 0);
    EXPECT_EQ(repaired.Job().DropFrames, 0);
    EXPECT_TRUE(DecodeVideo(File("repaired.nut"), true).pictures ==
                DecodeVideo(mpeg, true).pictures);
    EXPECT_EQ(std::count_if(repaired.log.begin(), repaired.log.end(),
                            [](const auto& line) {
                                return line.second.rfind("presentation time of stream #0.0 lies "
                                                         "10800040000 us from its decoding time",
                                                         0) == 0;
                            }),
              1);
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
