// Where the sound of a WMA conversion ends up. "make" writes a click train (44.1 kHz stereo,
// 20000 frames, clicks at frames 10, 1000, 3000, 10000 and 19990) and a 30-second tone, quiet
// enough to show no clicks, as WAV and converts both through the engine to WMA, as the
// converter sets it up; "read" decodes any audio file through libavformat + libavcodec and
// tells its length and its clicks.
// Usage: bench_wma_placement make FOLDER    (writes clicks.wav/.wma and tone30.wav/.wma)
//        bench_wma_placement read FILE...
// "read" prints per file: "<file> frames=<decoded> seconds=<decoded> container=<duration the
// demuxer reports> clicks=<frames of channel 0 where a click peaks>".

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "engine/job.h"
#include "medialib/media_loader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {

constexpr int kRate = 44100;
constexpr int kChannels = 2;

void WriteWav(const std::string& path, const std::vector<int16_t>& samples)
{
    const auto bytes = static_cast<uint32_t>(samples.size() * 2);
    auto le = [](uint32_t value, int size) {
        std::string out;
        for (int i = 0; i < size; ++i)
            out += static_cast<char>(value >> (8 * i) & 0xff);
        return out;
    };
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "RIFF" << le(36 + bytes, 4) << "WAVEfmt " << le(16, 4) << le(1, 2) << le(kChannels, 2)
        << le(kRate, 4) << le(kRate * kChannels * 2, 4) << le(kChannels * 2, 2) << le(16, 2)
        << "data" << le(bytes, 4);
    out.write(reinterpret_cast<const char*>(samples.data()), bytes);
}

bool ConvertToWma(const std::string& input, const std::string& output)
{
    std::mutex codecLock;
    kelvaro::TCustomFFmpegHlpr job(codecLock);
    job.Reset();
    job.SetLogLevel(-1);
    if (!job.OpenInputFile(input)) {
        std::fprintf(stderr, "%s\n", job.LastError.c_str());
        return false;
    }
    job.VideoDisable = 1;
    job.SetAudioCodec("wmav2");
    job.SetOption("ab", "128000");
    if (!job.OpenOutputFile(output)) {
        std::fprintf(stderr, "%s\n", job.LastError.c_str());
        return false;
    }
    try {
        job.StartTranscode(false, kelvaro::tpNormal);
    } catch (const kelvaro::FFMpegException& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return false;
    }
    return job.Finished;
}

int Make(const std::string& folder)
{
    if (!kelvaro::LoadMediaLibraries(kelvaro::ProgramLibraryFolder(), true)) {
        std::fprintf(stderr, "%s\n", kelvaro::LoadError().c_str());
        return 1;
    }
    std::vector<int16_t> clicks(20000 * kChannels, 0);
    for (int frame : {10, 1000, 3000, 10000, 19990})
        for (int channel = 0; channel < kChannels; ++channel)
            clicks[static_cast<size_t>(frame * kChannels + channel)] = 26000;
    std::vector<int16_t> tone(static_cast<size_t>(30 * kRate * kChannels));
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<int16_t>(
            4900 * std::sin(2 * M_PI * (440.0 + 110 * (i % kChannels)) * (i / kChannels) / kRate));
    for (const auto& [name, samples] : {std::pair{"clicks", &clicks}, {"tone30", &tone}}) {
        const std::string base = folder + "/" + name;
        WriteWav(base + ".wav", *samples);
        if (!ConvertToWma(base + ".wav", base + ".wma"))
            return 1;
        std::printf("%s.wma\n", base.c_str());
    }
    return 0;
}

// Channel 0 of the file's best audio stream, as floats.
bool Decode(const char* path, std::vector<float>& out, int& rate, double& container)
{
    AVFormatContext* input = nullptr;
    if (avformat_open_input(&input, path, nullptr, nullptr) < 0)
        return false;
    avformat_find_stream_info(input, nullptr);
    container = input->duration == AV_NOPTS_VALUE ? -1 : input->duration / 1e6;
    const AVCodec* codec = nullptr;
    const int index = av_find_best_stream(input, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    AVCodecContext* decoder = index >= 0 ? avcodec_alloc_context3(codec) : nullptr;
    bool ok = decoder && avcodec_parameters_to_context(decoder, input->streams[index]->codecpar) >= 0;
    if (ok) {
        decoder->pkt_timebase = input->streams[index]->time_base;
        ok = avcodec_open2(decoder, codec, nullptr) >= 0;
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto receive = [&] {
        while (avcodec_receive_frame(decoder, frame) >= 0) {
            rate = frame->sample_rate;
            const int channels = frame->ch_layout.nb_channels;
            for (int i = 0; i < frame->nb_samples; ++i) {
                switch (frame->format) {
                case AV_SAMPLE_FMT_S16:
                    out.push_back(reinterpret_cast<int16_t*>(frame->data[0])[i * channels] / 32768.0f);
                    break;
                case AV_SAMPLE_FMT_S16P:
                    out.push_back(reinterpret_cast<int16_t*>(frame->data[0])[i] / 32768.0f);
                    break;
                case AV_SAMPLE_FMT_FLTP:
                    out.push_back(reinterpret_cast<float*>(frame->data[0])[i]);
                    break;
                case AV_SAMPLE_FMT_FLT:
                    out.push_back(reinterpret_cast<float*>(frame->data[0])[i * channels]);
                    break;
                default:
                    out.push_back(0);
                }
            }
            av_frame_unref(frame);
        }
    };
    while (ok && av_read_frame(input, packet) >= 0) {
        if (packet->stream_index == index && avcodec_send_packet(decoder, packet) >= 0)
            receive();
        av_packet_unref(packet);
    }
    if (ok) {
        avcodec_send_packet(decoder, nullptr);
        receive();
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&input);
    return ok;
}

int Read(int count, char** files)
{
    for (int f = 0; f < count; ++f) {
        std::vector<float> samples;
        int rate = 0;
        double container = -1;
        if (!Decode(files[f], samples, rate, container)) {
            std::fprintf(stderr, "cannot decode %s\n", files[f]);
            return 1;
        }
        std::string clicks;
        const auto frames = static_cast<long>(samples.size());
        for (long i = 0; i < frames; ++i) {
            const float level = std::fabs(samples[static_cast<size_t>(i)]);
            bool peak = level >= 0.2f;
            for (long j = std::max(0L, i - 64); peak && j <= std::min(frames - 1, i + 64); ++j) {
                const float other = std::fabs(samples[static_cast<size_t>(j)]);
                peak = other < level || (other == level && j >= i);
            }
            if (peak)
                clicks += (clicks.empty() ? "" : ",") + std::to_string(i);
        }
        std::printf("%s frames=%ld seconds=%.4f container=%.4f clicks=%s\n", files[f], frames,
                    rate > 0 ? static_cast<double>(frames) / rate : 0.0, container,
                    clicks.empty() ? "-" : clicks.c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    av_log_set_level(AV_LOG_ERROR);
    if (argc == 3 && std::strcmp(argv[1], "make") == 0)
        return Make(argv[2]);
    if (argc >= 3 && std::strcmp(argv[1], "read") == 0)
        return Read(argc - 2, argv + 2);
    std::fprintf(stderr, "usage: %s make FOLDER | read FILE...\n", argv[0]);
    return 2;
}
