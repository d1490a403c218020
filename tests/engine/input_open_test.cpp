#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>

#include "engine/job.h"
#include "fixtures/media_fixtures.h"
#include "medialib/media_functions.h"
#include "support/test_support.h"

namespace kelvaro {
namespace {

using namespace fixtures;
namespace fs = std::filesystem;

class InputOpen : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::LoadMediaLibrariesForTest();
        job_.Reset();
        job_.SetLogLevel(-1);  // keep the input descriptions out of the test output
    }
    void TearDown() override { job_.SetLogLevel(1); }
    AudioSpec Audio(int rate, int channels, double seconds)
    {
        AudioSpec audioSpec;
        audioSpec.sampleRate = rate;
        audioSpec.channels = channels;
        audioSpec.seconds = seconds;
        return audioSpec;
    }

    TempDir folder_;
    std::mutex lock_;
    TCustomFFmpegHlpr job_{lock_};
};

TEST_F(InputOpen, EveryFixtureFormatOpensWithItsAudioValues)
{
    struct Case {
        std::string file;
        int rate;
        int channels;
    };
    const std::vector<Case> cases = {
        {MakeWav(folder_.File("a.wav"), Audio(22050, 1, 1.0)), 22050, 1},
        {MakeMp3(folder_.File("a.mp3"), Audio(48000, 2, 1.0)), 48000, 2},
        {MakeFlac(folder_.File("a.flac"), Audio(44100, 2, 1.0)), 44100, 2},
        {MakeOggVorbis(folder_.File("a.ogg"), Audio(44100, 1, 1.0)), 44100, 1},
        {MakeAacM4a(folder_.File("a.m4a"), Audio(48000, 2, 1.0)), 48000, 2},
        {MakeWma(folder_.File("a.wma"), Audio(22050, 2, 1.0)), 22050, 2},
        {MakeMkvWithSubtitles(folder_.File("a.mkv"), Audio(44100, 2, 1.0),
                              {{0.1, 0.5, "hello"}}),
         44100, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        TCustomFFmpegHlpr job(lock_);
        job.Reset();
        job.SetLogLevel(-1);
        ASSERT_TRUE(job.OpenInputFile(c.file)) << job.LastError;
        EXPECT_EQ(job.InputFileCount, 1);
        EXPECT_EQ(job.AudioSampleRate, c.rate);
        EXPECT_EQ(job.AudioChannels, c.channels);
        EXPECT_NEAR(job.TotalDurationMs, 1000, 120);  // WMA: a frame of silence either side
        const TInputFile& input = job.InputFiles[0];
        EXPECT_EQ(input.Decoders.size(), input.Context->nb_streams);
        EXPECT_EQ(input.Decoders[0]->sample_rate, c.rate) << "decoder made from the parameters";
    }
}

TEST_F(InputOpen, VideoInputsGiveTheirGeometryAndRate)
{
    VideoSpec video;
    video.width = 320;
    video.height = 240;
    video.fpsNum = 30000;
    video.fpsDen = 1001;
    video.seconds = 1.0;
    const std::string mpg = MakeMpegPs(folder_.File("clip.mpg"), video, Audio(44100, 2, 1.0));
    ASSERT_TRUE(job_.OpenInputFile(mpg)) << job_.LastError;
    EXPECT_EQ(job_.FrameWidth, 320);
    EXPECT_EQ(job_.FrameHeight, 240);
    EXPECT_EQ(job_.FrameRate.num, 30000);
    EXPECT_EQ(job_.FrameRate.den, 1001);
    EXPECT_EQ(job_.FramePixelFormat, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(job_.AudioChannels, 2);

    const std::string dat = folder_.File("AVSEQ01.DAT");
    std::filesystem::copy_file(mpg, dat);
    TCustomFFmpegHlpr forced(lock_);
    forced.Reset();
    forced.SetLogLevel(-1);
    forced.SetInputFormat("mpeg");
    ASSERT_TRUE(forced.OpenInputFile(dat)) << forced.LastError;
    EXPECT_STREQ(forced.InputFiles[0].Context->iformat->name, "mpeg");
    EXPECT_EQ(forced.ForcedInputFormat, nullptr) << "the forced format serves one input";
}

TEST_F(InputOpen, RealMediaVideoWithoutPixelFormatGetsPlanarYuvByItsExtension)
{
    VideoSpec video;
    video.seconds = 0.5;
    const std::string mpg = MakeMpegPs(folder_.File("clip.mpg"), video, Audio(44100, 2, 0.5));
    // Probing so little leaves the video's pixel format unknown.
    auto open = [&](const std::string& name) {
        const std::string file = folder_.File(name);
        std::filesystem::copy_file(mpg, file);
        TCustomFFmpegHlpr job(lock_);
        job.Reset();
        job.SetLogLevel(-1);
        EXPECT_TRUE(job.SetOption("probesize", "32"));
        EXPECT_TRUE(job.SetOption("analyzeduration", "0"));
        EXPECT_TRUE(job.OpenInputFile(file)) << job.LastError;
        return job.FramePixelFormat;
    };
    EXPECT_EQ(open("clip.RMVB"), AV_PIX_FMT_YUV420P);
    EXPECT_EQ(open("clip.rm"), AV_PIX_FMT_NONE);
}

TEST_F(InputOpen, DisabledKindsAreDiscarded)
{
    VideoSpec video;
    video.seconds = 1.0;
    const std::string avi = MakeAviMpeg4Mp3(folder_.File("clip.avi"), video, Audio(44100, 2, 1.0));
    job_.VideoDisable = 1;
    job_.AudioDisable = 1;
    ASSERT_TRUE(job_.OpenInputFile(avi)) << job_.LastError;
    const AVFormatContext* input = job_.InputFiles[0].Context.get();
    ASSERT_EQ(input->nb_streams, 2u);
    for (unsigned i = 0; i < input->nb_streams; ++i)
        EXPECT_EQ(input->streams[i]->discard, AVDISCARD_ALL);
}

TEST_F(InputOpen, TheLongestInputGivesTheTotalDuration)
{
    ASSERT_TRUE(job_.OpenInputFile(MakeWav(folder_.File("short.wav"), Audio(44100, 1, 1.0))));
    EXPECT_EQ(job_.TotalDurationMs, 1000);
    ASSERT_TRUE(job_.OpenInputFile(MakeWav(folder_.File("long.wav"), Audio(44100, 1, 2.5))));
    EXPECT_EQ(job_.TotalDurationMs, 2500);
    ASSERT_TRUE(job_.OpenInputFile(MakeWav(folder_.File("mid.wav"), Audio(44100, 1, 2.0))));
    EXPECT_EQ(job_.TotalDurationMs, 2500);
    EXPECT_EQ(job_.InputFileCount, 3);
}

// The position of the first packet the input delivers, in seconds.
double FirstPacketSeconds(AVFormatContext* input)
{
    PacketPtr packet(avcodec.av_packet_alloc());
    if (avformat.av_read_frame(input, packet.get()) < 0)
        return -1;
    const AVStream* stream = input->streams[packet->stream_index];
    return packet->pts * av_q2d(stream->time_base);
}

TEST_F(InputOpen, AStartTimeSeeksTheNextInputAndSetsItsOffset)
{
    const std::string wav = MakeWav(folder_.File("a.wav"), Audio(44100, 2, 8.0));
    job_.StartTime = 5000000;
    ASSERT_TRUE(job_.OpenInputFile(wav));
    EXPECT_EQ(job_.StartTime, 0) << "the start time serves one input";
    EXPECT_EQ(job_.InputTimeOffsets[0], -5000000);
    EXPECT_NEAR(FirstPacketSeconds(job_.InputFiles[0].Context.get()), 5.0, 0.05);

    TCustomFFmpegHlpr keeping(lock_);
    keeping.Reset();
    keeping.SetLogLevel(-1);
    keeping.KeepTimestamps = true;
    keeping.InputTimeOffset = 1234;
    keeping.StartTime = 5000000;
    ASSERT_TRUE(keeping.OpenInputFile(wav));
    EXPECT_EQ(keeping.InputTimeOffsets[0], 1234);
}

TEST_F(InputOpen, SettingAStartTimePositionsTheOpenInputsAtOnce)
{
    const std::string wav = MakeWav(folder_.File("a.wav"), Audio(44100, 2, 8.0));
    ASSERT_TRUE(job_.OpenInputFile(wav));
    EXPECT_EQ(job_.TotalDurationMs, 8000);
    job_.SetStartTime(3000);
    EXPECT_EQ(job_.InputTimeOffsets[0], -3000000);
    EXPECT_EQ(job_.StartTime, 0) << "nothing carries over to later inputs";
    EXPECT_EQ(job_.TotalDurationMs, 5000);
    EXPECT_NEAR(FirstPacketSeconds(job_.InputFiles[0].Context.get()), 3.0, 0.05);
}

TEST_F(InputOpen, FailuresLeaveTheirTextAndNothingElse)
{
    const std::string missing = folder_.File("missing.wav");
    job_.SetAudioCodec("mp3");
    EXPECT_FALSE(job_.OpenInputFile(missing));
    EXPECT_EQ(job_.LastError, missing + ": no such file or directory");
    EXPECT_EQ(job_.InputFileCount, 0);
    EXPECT_EQ(job_.AudioCodecName, "") << "pending settings are cleared on failure too";

    const std::string garbage = MakeRawFile(folder_.File("noise.bin"), std::string(4096, '\x5a'));
    EXPECT_FALSE(job_.OpenInputFile(garbage));
    EXPECT_EQ(job_.LastError, garbage + ": Unknown format");

    job_.SetVideoCodec("mp2");
    EXPECT_FALSE(job_.OpenInputFile(MakeWav(folder_.File("a.wav"), Audio(8000, 1, 0.2))));
    EXPECT_EQ(job_.LastError, "Invalid decoder type 'mp2'");
    job_.SetAudioCodec("nosuch");
    EXPECT_FALSE(job_.OpenInputFile(folder_.File("a.wav")));
    EXPECT_EQ(job_.LastError, "Unknown decoder 'nosuch'");
    EXPECT_EQ(job_.InputFileCount, 0);
}

TEST_F(InputOpen, ATwentyFirstInputIsRefused)
{
    const std::string wav = MakeWav(folder_.File("a.wav"), Audio(8000, 1, 0.1));
    for (int i = 0; i < kMaxFiles; ++i)
        ASSERT_TRUE(job_.OpenInputFile(wav));
    EXPECT_FALSE(job_.OpenInputFile(wav));
    EXPECT_EQ(job_.LastError, wav + ": too many input files (at most 20)");
    EXPECT_EQ(job_.InputFileCount, kMaxFiles);
}

TEST_F(InputOpen, RecordedDecodingOptionsReachTheInput)
{
    EXPECT_TRUE(job_.SetOption("probesize", "65536"));
    ASSERT_TRUE(job_.OpenInputFile(MakeWav(folder_.File("a.wav"), Audio(8000, 1, 0.2))));
    EXPECT_EQ(job_.InputFiles[0].Context->probesize, 65536);
}

// Watches a file for being opened, by anyone.
class OpenWatch {
public:
    explicit OpenWatch(const std::string& path)
        : descriptor_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        inotify_add_watch(descriptor_, path.c_str(), IN_OPEN | IN_ACCESS);
    }
    ~OpenWatch() { close(descriptor_); }
    bool Opened() const
    {
        char events[4096];
        return read(descriptor_, events, sizeof events) > 0;
    }

private:
    int descriptor_;
};

TEST_F(InputOpen, OnlyTheNamedLocalFileIsRead)
{
    ASSERT_TRUE(job_.OpenInputFile(MakeWav(folder_.File("a.wav"), Audio(8000, 1, 0.2))));
    ASSERT_NE(job_.InputFiles[0].Context->protocol_whitelist, nullptr);
    EXPECT_STREQ(job_.InputFiles[0].Context->protocol_whitelist, "file");

    const std::string secret = MakeWav(folder_.File("secret.wav"), Audio(44100, 1, 1.0));
    const std::vector<std::string> lists = {
        MakeRawFile(folder_.File("remote.m3u8"),
                    "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\n"
                    "http://127.0.0.1:9/x.ts\n#EXT-X-ENDLIST\n"),
        MakeRawFile(folder_.File("list.m3u8"), "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1.0,\n" +
                                                   secret + "\n#EXT-X-ENDLIST\n"),
        // A concat script posing as an MP3.
        MakeRawFile(folder_.File("song.mp3"), "ffconcat version 1.0\nfile '" + secret + "'\n"),
        // A subtitle index, whose demuxer opens the .sub beside it on its own.
        MakeRawFile(folder_.File("secret.idx"),
                    "# VobSub index file, v7 (do not modify this line!)\nsize: 720x576\n"
                    "id: en, index: 0\ntimestamp: 00:00:01:000, filepos: 000000000\n"),
    };
    fs::create_hard_link(secret, folder_.File("secret.sub"));  // watched with it
    for (const std::string& list : lists) {
        SCOPED_TRACE(list);
        const OpenWatch watch(secret);
        EXPECT_FALSE(job_.OpenInputFile(list));
        EXPECT_EQ(job_.LastError, list + ": playlists and reference files are not converted");
        EXPECT_FALSE(watch.Opened()) << "the listed file was read";
        EXPECT_EQ(job_.InputFileCount, 1);
    }
}

TEST_F(InputOpen, NamesArePathsNeverUrls)
{
    // Relative names with a colon: no protocol, and "file:" names a file of that name.
    const fs::path previous = fs::current_path();
    fs::current_path(folder_.Path());
    MakeWav("./intro.wav", Audio(8000, 1, 0.5));
    MakeWav("./01:intro.wav", Audio(22050, 2, 0.5));
    MakeWav("./file:intro.wav", Audio(11025, 1, 0.5));
    const bool colonOpened = job_.OpenInputFile("01:intro.wav");
    const int colonRate = job_.AudioSampleRate;
    const bool prefixedOpened = job_.OpenInputFile("file:intro.wav");
    const int prefixedRate = job_.AudioSampleRate;
    job_.SetOutputFormat("wav");
    const bool outputOpened = job_.OpenOutputFile("02:out.wav");
    // Written under its temporary name until it is complete.
    const bool outputWritten = outputOpened && job_.OutputFiles[0].Temporary &&
                               job_.OutputFiles[0].Temporary->TemporaryName().starts_with(
                                   ".02:out.wav.") &&
                               fs::exists(job_.OutputFiles[0].Temporary->TemporaryName());
    fs::current_path(previous);
    EXPECT_TRUE(colonOpened) << job_.LastError;
    EXPECT_EQ(colonRate, 22050);
    EXPECT_TRUE(prefixedOpened) << job_.LastError;
    EXPECT_EQ(prefixedRate, 11025) << "not ./intro.wav";
    EXPECT_TRUE(outputOpened) << job_.LastError;
    EXPECT_TRUE(outputWritten);
}

TEST_F(InputOpen, TooManyOpenFilesIsNamedAsTheReason)
{
    const std::string input = MakeWav(folder_.File("in.wav"), Audio(8000, 1, 0.5));
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    const rlimit previous = limit;
    limit.rlim_cur = 256;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    std::vector<int> taken;
    for (int descriptor; (descriptor = dup(0)) >= 0;)
        taken.push_back(descriptor);
    const bool opened = job_.OpenInputFile(input);
    for (int descriptor : taken)
        close(descriptor);
    setrlimit(RLIMIT_NOFILE, &previous);
    EXPECT_FALSE(opened);
    EXPECT_EQ(job_.LastError, input + ": Error while opening file: Too many open files");
}

}  // namespace
}  // namespace kelvaro
