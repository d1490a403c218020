#include "engine/realvideo_decoder.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/ffmpeg_exception.h"
#include "engine/job.h"
#include "engine/logging.h"
#include "fixtures/media_writer.h"
#include "fixtures/temp_dir.h"
#include "medialib/realvideo_standin.h"
#include "support/test_support.h"

namespace kelvaro {
namespace {

std::vector<std::string> logLines;

void CaptureLog(void* context, int level, const char* format, va_list arguments)
{
    if (level > AV_LOG_ERROR || !context)
        return;
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    const AVClass* record = *static_cast<const AVClass* const*>(context);
    logLines.push_back(std::string(record->item_name(context)) + ": " + text);
}

// A packet as the demuxer delivers it: the segment count - 1, one table entry per segment
// (flag 1, offset), then the stand-in's payload: its command word, the picture's size and
// its samples.
std::vector<uint8_t> Packet(int width, int height, std::vector<uint8_t> samples, int segments = 1,
                            uint8_t command = 0)
{
    std::vector<uint8_t> bytes = {uint8_t(segments - 1)};
    for (int s = 0; s < segments; ++s)
        bytes.insert(bytes.end(), {1, 0, 0, 0, uint8_t(s), 0, 0, 0});
    bytes.insert(bytes.end(), {command, 0, 0, 0, uint8_t(width), uint8_t(width >> 8),
                               uint8_t(height), uint8_t(height >> 8)});
    bytes.insert(bytes.end(), samples.begin(), samples.end());
    return bytes;
}

// A plane of a frame without its line padding.
std::vector<uint8_t> PlaneOf(const AVFrame& frame, int plane)
{
    const int width = plane ? (frame.width + 1) / 2 : frame.width;
    const int height = plane ? (frame.height + 1) / 2 : frame.height;
    std::vector<uint8_t> samples;
    for (int row = 0; row < height; ++row) {
        const uint8_t* line = frame.data[plane] + row * frame.linesize[plane];
        samples.insert(samples.end(), line, line + width);
    }
    return samples;
}

using Samples = std::vector<uint8_t>;

// The RealVideo 4 stand-in, bound once for the whole program as the outside library.
class RealVideoBridge : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        test::LoadMediaLibrariesForTest();
        std::filesystem::copy_file(REALVIDEO_STANDIN_RV40, Folder().File("drvc.so"));
        Bind();
    }
    static void Bind()
    {
        ASSERT_TRUE(RealVideoLibrary().Bind(Folder().Path())) << RealVideoLibrary().ErrorText();
        standIn_ = RealVideoStandInLoadedFrom(RealVideoLibrary().LoadedPath());
    }
    // Kept for the whole program, as the binding is.
    static const fixtures::TempDir& Folder()
    {
        static const fixtures::TempDir folder;
        return folder;
    }
    void SetUp() override
    {
        ASSERT_TRUE(standIn_);
        *standIn_ = RealVideoStandInState{};
        logLines.clear();
        avutil.av_log_set_callback(CaptureLog);
    }
    void TearDown() override { avutil.av_log_set_callback(LibraryLogCallback); }

    // A decoder context as an input makes it, for the stand-in's 4 x 4 pictures by default.
    CodecContextPtr Context(const char* tag = "RV40",
                            Samples extradata = {0x10, 0x00, 0x30, 0x00, 0x40, 0, 0, 0},
                            int width = 4, int height = 4)
    {
        CodecContextPtr context(avcodec.avcodec_alloc_context3(nullptr));
        context->codec_type = AVMEDIA_TYPE_VIDEO;
        context->codec_id = tag[2] == '3' ? AV_CODEC_ID_RV30 : AV_CODEC_ID_RV40;
        context->codec_tag = MKTAG(tag[0], tag[1], tag[2], tag[3]);
        context->width = width;
        context->height = height;
        context->pkt_timebase = {1, 90000};
        context->extradata = static_cast<uint8_t*>(
            avutil.av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        std::copy(extradata.begin(), extradata.end(), context->extradata);
        context->extradata_size = static_cast<int>(extradata.size());
        return context;
    }

    static int Send(TDecoder& decoder, Samples& bytes, int64_t pts = AV_NOPTS_VALUE)
    {
        AVPacket packet{};
        packet.data = bytes.data();
        packet.size = static_cast<int>(bytes.size());
        packet.pts = pts;
        packet.dts = AV_NOPTS_VALUE;
        return decoder.SendPacket(&packet);
    }
    // Decodes one packet that must give a frame.
    static FramePtr Decode(TDecoder& decoder, Samples bytes)
    {
        EXPECT_EQ(Send(decoder, bytes), 0);
        FramePtr frame(avutil.av_frame_alloc());
        EXPECT_EQ(decoder.ReceiveFrame(frame.get()), 0);
        return frame;
    }

    static inline RealVideoStandInState* standIn_ = nullptr;
};

TEST_F(RealVideoBridge, DecodesThroughTheLibrarysRecordsAndEnlargesSmallerPictures)
{
    CodecContextPtr context = Context();
    TRealVideoDecoder decoder(*context, realvideo);
    ASSERT_EQ(decoder.Open(), 0);
    const RealVideoInitRecord& init = standIn_->init;
    EXPECT_EQ(init.Fixed11, 11);
    EXPECT_EQ(init.Width, 4);
    EXPECT_EQ(init.Height, 4);
    EXPECT_EQ(init.Fixed0 | init.Reserved, 0u);
    EXPECT_EQ(init.SubFormat, 0x10003000u) << "big-endian words of the extradata";
    EXPECT_EQ(init.Fixed1, 1u);
    EXPECT_EQ(init.Format, 0x40000000u);
    EXPECT_EQ(standIn_->messages, 0) << "RealVideo 4 codes its sizes in its pictures";
    EXPECT_EQ(context->pix_fmt, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(context->has_b_frames, 1);

    // A picture of the stream's size, in three segments: 1 + 8 x 3 bytes precede the payload.
    Samples samples(24);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = uint8_t(i);
    Samples bytes = Packet(4, 4, samples, 3);
    ASSERT_EQ(Send(decoder, bytes, 180000), 0);
    const RealVideoInputRecord& input = standIn_->input;
    EXPECT_EQ(input.PayloadLength, bytes.size() - 25);
    EXPECT_EQ(input.LastSegment, 2u);
    EXPECT_EQ(standIn_->payloadOffset, 24);
    EXPECT_EQ(input.Reserved1 | input.Reserved2, 0u);
    EXPECT_EQ(input.Timestamp, 2000u) << "milliseconds";
    EXPECT_EQ(Send(decoder, bytes), AVERROR(EAGAIN)) << "a frame waits";
    FramePtr frame(avutil.av_frame_alloc());
    ASSERT_EQ(decoder.ReceiveFrame(frame.get()), 0);
    EXPECT_EQ(decoder.ReceiveFrame(frame.get()), AVERROR(EAGAIN));
    EXPECT_EQ(frame->format, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(frame->pts, 180000);
    EXPECT_EQ(PlaneOf(*frame, 0), Samples(samples.begin(), samples.begin() + 16));
    EXPECT_EQ(PlaneOf(*frame, 1), (Samples{16, 17, 18, 19}));
    EXPECT_EQ(PlaneOf(*frame, 2), (Samples{20, 21, 22, 23}));

    // Smaller in both: rows, then columns, widened.
    frame = Decode(decoder, Packet(2, 2, {10, 20, 30, 40, 100, 200}));
    EXPECT_EQ(PlaneOf(*frame, 0),
              (Samples{10, 15, 20, 20, 20, 25, 30, 30, 30, 35, 40, 40, 30, 35, 40, 40}));
    EXPECT_EQ(PlaneOf(*frame, 1), Samples(4, 100));
    EXPECT_EQ(PlaneOf(*frame, 2), Samples(4, 200));
    // Narrower at full height: rows only; 2 -> 4 samples give in[0], the mid value rounded,
    // in[1], in[1].
    frame = Decode(decoder, Packet(2, 4, {10, 20, 30, 40, 50, 60, 70, 80, 100, 110, 200, 210}));
    EXPECT_EQ(PlaneOf(*frame, 0),
              (Samples{10, 15, 20, 20, 30, 35, 40, 40, 50, 55, 60, 60, 70, 75, 80, 80}));
    EXPECT_EQ(PlaneOf(*frame, 1), (Samples{100, 100, 110, 110}));
    EXPECT_EQ(PlaneOf(*frame, 2), (Samples{200, 200, 210, 210}));
    // Lower at full width: columns only.
    frame = Decode(decoder, Packet(4, 2, {10, 20, 30, 40, 50, 60, 70, 80, 100, 110, 200, 210}));
    EXPECT_EQ(PlaneOf(*frame, 0),
              (Samples{10, 20, 30, 40, 30, 40, 50, 60, 50, 60, 70, 80, 50, 60, 70, 80}));
    EXPECT_EQ(PlaneOf(*frame, 1), (Samples{100, 110, 100, 110}));

    // The end of the input, and a flush that takes packets again.
    EXPECT_EQ(decoder.SendPacket(nullptr), 0);
    EXPECT_EQ(decoder.ReceiveFrame(frame.get()), AVERROR_EOF);
    EXPECT_EQ(Send(decoder, bytes), AVERROR_EOF);
    decoder.Flush();
    EXPECT_EQ(Send(decoder, bytes), 0);
    decoder.Close();
    EXPECT_EQ(standIn_->frees, 1);
    EXPECT_EQ(decoder.ReceiveFrame(frame.get()), AVERROR_EOF);

    // An odd size: the frame's chroma rounds up, repeating the last column and row.
    CodecContextPtr odd = Context("RV40", {0x10, 0, 0x30, 0, 0x40, 0, 0, 0}, 5, 3);
    TRealVideoDecoder oddDecoder(*odd, realvideo);
    ASSERT_EQ(oddDecoder.Open(), 0);
    samples.assign(15, 9);
    samples.insert(samples.end(), {1, 2, 3, 4});
    frame = Decode(oddDecoder, Packet(5, 3, samples));
    EXPECT_EQ(PlaneOf(*frame, 0), Samples(15, 9));
    EXPECT_EQ(PlaneOf(*frame, 1), (Samples{1, 2, 2, 1, 2, 2}));
    EXPECT_EQ(PlaneOf(*frame, 2), (Samples{3, 4, 4, 3, 4, 4}));
}

TEST_F(RealVideoBridge, RefusesUnsafePacketsAndPicturesAndGoesOn)
{
    CodecContextPtr context = Context();
    TRealVideoDecoder decoder(*context, realvideo);
    ASSERT_EQ(decoder.Open(), 0);
    Samples tooShort = {0, 1, 0, 0, 0};
    Samples pastTheTable = Packet(4, 4, {}, 1);
    pastTheTable[0] = 3;  // claims 4 segments, 33 bytes of table
    Samples pastThePayload = Packet(4, 4, {}, 1);
    pastThePayload[5] = 9;  // the segment starts 9 bytes into an 8-byte payload
    Samples empty = {};

    const struct {
        Samples bytes;
        int result;
        const char* logged;  // nullptr: nothing
    } cases[] = {
        {tooShort, AVERROR_INVALIDDATA,
         "lumorv40: RealVideo packet of 5 bytes is shorter than its header\n"},
        {pastTheTable, AVERROR_INVALIDDATA,
         "lumorv40: RealVideo packet of 17 bytes is too short for its 4 segments\n"},
        {pastThePayload, AVERROR_INVALIDDATA,
         "lumorv40: RealVideo segment 1 of 1 starts past the end of its packet\n"},
        {Packet(6, 4, {1}), AVERROR_INVALIDDATA,
         "lumorv40: RealVideo decoded a 6x4 picture that does not fit the stream's 4x4\n"},
        {Packet(1, 4, {1}), AVERROR_INVALIDDATA,
         "lumorv40: RealVideo decoded a 1x4 picture that does not fit the stream's 4x4\n"},
        {Packet(4, 4, {}, 1, 1), AVERROR_EXTERNAL, nullptr},
        {Packet(4, 4, {}, 1, 2), AVERROR_EXTERNAL,
         "lumorv40: RVTransform() Exception: stand-in refused the payload\n"},
        {Packet(0, 0, {}, 1), 0, nullptr},  // nothing drawn: no frame
        {empty, 0, nullptr},
    };
    FramePtr frame(avutil.av_frame_alloc());
    for (auto [bytes, result, logged] : cases) {
        logLines.clear();
        EXPECT_EQ(Send(decoder, bytes), result) << logged;
        EXPECT_EQ(logLines, logged ? std::vector<std::string>{logged} : std::vector<std::string>{});
        EXPECT_EQ(decoder.ReceiveFrame(frame.get()), AVERROR(EAGAIN)) << logged;
    }
    EXPECT_EQ(standIn_->transforms, 5) << "the unsafe packets never reach the library";
    frame = Decode(decoder, Packet(4, 4, {77}));
    EXPECT_EQ(PlaneOf(*frame, 0), Samples(16, 77));
}

TEST_F(RealVideoBridge, OpenChecksTheStreamAndGivesRealVideo3ItsPictureSizes)
{
    // Three sizes: the stream's own, then 8 x 6 and 4 x 3 units of 4 pixels.
    const Samples rv30 = {0x10, 0x02, 0x30, 0x00, 0x30, 0x20, 0x20, 0x02, 8, 6, 4, 3};
    {
        CodecContextPtr context = Context("RV30", rv30);
        TRealVideoDecoder decoder(*context, realvideo);
        ASSERT_EQ(decoder.Open(), 0);
        ASSERT_EQ(standIn_->messages, 1);
        EXPECT_EQ(standIn_->message.Id, 0x24u);
        EXPECT_EQ(standIn_->message.Count, 3u);
        EXPECT_EQ(std::vector<uint32_t>(standIn_->messageValues, standIn_->messageValues + 6),
                  (std::vector<uint32_t>{4, 4, 32, 24, 16, 12}));
    }
    EXPECT_EQ(standIn_->frees, 1);

    const Samples sizes(rv30.begin(), rv30.end() - 1);
    standIn_->messages = 0;
    const struct {
        CodecContextPtr context;
        int result;
        const char* logged;
    } cases[] = {
        {Context("RV30", sizes), AVERROR_INVALIDDATA,
         "lumorv30: RealVideo extradata of 11 bytes lacks the 3 picture sizes it announces\n"},
        {Context("RV40", {0x10, 0, 0x30, 0, 0x40, 0, 0}), AVERROR_INVALIDDATA,
         "lumorv40: RealVideo stream has 7 bytes of extradata; its decoder needs 8\n"},
        {Context("RV40", {0x10, 0, 0x30, 0, 0x40, 0, 0, 0}, 1, 4), AVERROR_INVALIDDATA,
         "lumorv40: RealVideo picture size 1x4 is not supported\n"},
    };
    for (const auto& [context, result, logged] : cases) {
        logLines.clear();
        TRealVideoDecoder decoder(*context, realvideo);
        EXPECT_EQ(decoder.Open(), result) << logged;
        EXPECT_EQ(logLines, std::vector<std::string>{logged});
    }
    EXPECT_EQ(standIn_->messages, 0);
    EXPECT_EQ(standIn_->inits, 1) << "the stream is checked before the library is asked";

    // The library's own refusals; a failed open frees what the library made.
    standIn_->messageResult = -1;
    CodecContextPtr sizesRefused = Context("RV30", rv30);
    EXPECT_EQ(TRealVideoDecoder(*sizesRefused, realvideo).Open(), AVERROR_EXTERNAL);
    EXPECT_EQ(standIn_->frees, 2);
    standIn_->initResult = -1;
    CodecContextPtr rv40 = Context();
    EXPECT_EQ(TRealVideoDecoder(*rv40, realvideo).Open(), AVERROR_EXTERNAL);
}

// Each job decides once, as its input opens, by its own choice: another job's, made later,
// changes nothing for it.
TEST_F(RealVideoBridge, EachJobsInputsFollowItsOwnChoice)
{
    fixtures::TempDir dir;
    fixtures::RealVideoSpec clip;
    clip.frames = {{1, 2, 3}};
    const std::string input = fixtures::MakeRealVideo(dir.File("clip.rm"), clip);
    std::mutex codecLock;
    TCustomFFmpegHlpr bridged(codecLock), library(codecLock);
    bridged.Reset();
    library.Reset();
    bridged.SetLogLevel(-1);
    bridged.SetRealVideoDecoder(false);
    ASSERT_TRUE(bridged.OpenInputFile(input)) << bridged.LastError;
    library.SetRealVideoDecoder(true);
    ASSERT_TRUE(library.OpenInputFile(input)) << library.LastError;
    EXPECT_EQ(bridged.InputFiles[0].DecoderChoices, std::vector{TDecoderChoice::RealVideoBridge});
    EXPECT_EQ(library.InputFiles[0].DecoderChoices, std::vector{TDecoderChoice::Library});
}

TEST_F(RealVideoBridge, OpenDecoderFollowsTheRealVideoChoice)
{
    std::mutex codecLock;
    const auto open = [&](CodecContextPtr& context) {
        return OpenDecoder(context, nullptr, codecLock, 0, 1);
    };
    const auto failure = [&](CodecContextPtr& context) -> std::string {
        try {
            open(context);
        } catch (const FFMpegException& exception) {
            return exception.what();
        }
        return "no failure";
    };
    struct Restore {
        ~Restore() { TCustomFFmpegHlpr::SelectRealVideoDecoder(true); }
    } restore;

    // The library's own decoders serve RealVideo by default, even with the bridge's library
    // bound.
    CodecContextPtr rv40 = Context();
    EXPECT_TRUE(dynamic_cast<TLibraryDecoder*>(open(rv40).get()));
    EXPECT_EQ(standIn_->inits, 0);

    TCustomFFmpegHlpr::SelectRealVideoDecoder(false);
    rv40 = Context();
    CodecContextPtr rv30 = Context("RV30");
    EXPECT_TRUE(dynamic_cast<TRealVideoDecoder*>(open(rv40).get()));
    EXPECT_TRUE(dynamic_cast<TRealVideoDecoder*>(open(rv30).get()));
    CodecContextPtr flac(avcodec.avcodec_alloc_context3(nullptr));
    flac->codec_type = AVMEDIA_TYPE_AUDIO;
    flac->codec_id = AV_CODEC_ID_FLAC;
    EXPECT_TRUE(dynamic_cast<TLibraryDecoder*>(open(flac).get())) << "other codecs stay";

    CodecContextPtr broken = Context("RV40", {1, 2, 3});
    EXPECT_EQ(failure(broken),
              "Error while opening codec for input stream #0.1: Invalid data found when "
              "processing input");
    RealVideoLibrary().Unload();
    EXPECT_EQ(failure(rv40), "Unsupported codec (id=69) for input stream #0.1");
    Bind();
}

}  // namespace
}  // namespace kelvaro
