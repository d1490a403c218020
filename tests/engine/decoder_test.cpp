#include "engine/decoder.h"

#include <gtest/gtest.h>

#include "fixtures/media_fixtures.h"
#include "support/test_support.h"

namespace kelvaro {
namespace {

using namespace fixtures;

// A file opened through the bound functions, with a decoder context per stream as the
// engine makes them.
struct OpenedFile {
    explicit OpenedFile(const std::string& path)
    {
        AVFormatContext* context = nullptr;
        EXPECT_GE(avformat.avformat_open_input(&context, path.c_str(), nullptr, nullptr), 0);
        input.reset(context);
        EXPECT_GE(avformat.avformat_find_stream_info(context, nullptr), 0);
        for (unsigned i = 0; i < context->nb_streams; ++i) {
            decoders.emplace_back(avcodec.avcodec_alloc_context3(nullptr));
            avcodec.avcodec_parameters_to_context(decoders.back().get(),
                                                  context->streams[i]->codecpar);
            decoders.back()->pkt_timebase = context->streams[i]->time_base;
        }
    }
    // The next packet of `stream`, or none at the end.
    PacketPtr Next(int stream)
    {
        PacketPtr packet(avcodec.av_packet_alloc());
        while (avformat.av_read_frame(input.get(), packet.get()) >= 0) {
            if (packet->stream_index == stream)
                return packet;
            avcodec.av_packet_unref(packet.get());
        }
        return nullptr;
    }

    InputContextPtr input;
    std::vector<CodecContextPtr> decoders;
};

TEST(LibraryDecoder, DecodesEverySampleDrainsAndTakesPacketsAgainAfterAFlush)
{
    test::LoadMediaLibrariesForTest();
    TempDir folder;
    AudioSpec audio;
    audio.sampleRate = 8000;
    audio.channels = 1;
    audio.seconds = 0.7;  // a partial last frame
    OpenedFile file(MakeFlac(folder.File("a.flac"), audio));
    std::mutex codecLock;
    std::unique_ptr<TDecoder> decoder = OpenDecoder(file.decoders[0], nullptr, codecLock, 0, 0);
    ASSERT_TRUE(dynamic_cast<TLibraryDecoder*>(decoder.get()));

    FramePtr frame(avutil.av_frame_alloc());
    int64_t samples = 0;
    const auto receiveAll = [&] {
        int result;
        while ((result = decoder->ReceiveFrame(frame.get())) == 0) {
            samples += frame->nb_samples;
            avutil.av_frame_unref(frame.get());
        }
        return result;
    };
    for (PacketPtr packet = file.Next(0); packet; packet = file.Next(0)) {
        ASSERT_EQ(decoder->SendPacket(packet.get()), 0);
        ASSERT_EQ(receiveAll(), AVERROR(EAGAIN));
    }
    ASSERT_EQ(decoder->SendPacket(nullptr), 0);
    EXPECT_EQ(receiveAll(), AVERROR_EOF);
    EXPECT_EQ(samples, audio.Frames());
    EXPECT_EQ(decoder->SendPacket(nullptr), AVERROR_EOF);

    decoder->Flush();
    avformat.av_seek_frame(file.input.get(), -1, 0, AVSEEK_FLAG_BACKWARD);
    samples = 0;
    PacketPtr again = file.Next(0);
    ASSERT_EQ(decoder->SendPacket(again.get()), 0);
    ASSERT_EQ(decoder->SendPacket(nullptr), 0);
    EXPECT_EQ(receiveAll(), AVERROR_EOF);
    EXPECT_GT(samples, 0);

    std::lock_guard lock(codecLock);
    decoder->Close();
    EXPECT_EQ(file.decoders[0], nullptr) << "closing frees the input's context";
}

TEST(LibraryDecoder, GivesSubtitlesWholeAndEmptiesAtTheEnd)
{
    test::LoadMediaLibrariesForTest();
    TempDir folder;
    AudioSpec audio;
    audio.seconds = 0.5;
    OpenedFile file(MakeMkvWithSubtitles(folder.File("a.mkv"), audio, {{0.1, 0.4, "hello"}}));
    std::mutex codecLock;
    std::unique_ptr<TDecoder> decoder = OpenDecoder(file.decoders[1], nullptr, codecLock, 0, 1);
    PacketPtr packet = file.Next(1);
    ASSERT_TRUE(packet);
    AVSubtitle subtitle{};
    int got = 0;
    ASSERT_GE(decoder->DecodeSubtitle(packet.get(), &subtitle, &got), 0);
    ASSERT_EQ(got, 1);
    ASSERT_EQ(subtitle.num_rects, 1u);
    EXPECT_NE(std::string(subtitle.rects[0]->ass).find("hello"), std::string::npos);
    avcodec.avsubtitle_free(&subtitle);
    EXPECT_GE(decoder->DecodeSubtitle(nullptr, &subtitle, &got), 0);
    EXPECT_EQ(got, 0);
}

}  // namespace
}  // namespace kelvaro
