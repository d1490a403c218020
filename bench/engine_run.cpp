// One conversion through the engine job, as the converter sets it up for its two targets, or
// to a disc or camcorder preset.
// Usage: bench_engine_run INPUT OUTPUT [TARGET]   (OUTPUT .wma: wmav2 at 128 kbit/s; .wav:
// PCM; TARGET: vcd, svcd, dvd, dv or dv50, the norm guessed from the input, else PAL)
// Prints "seconds=<wall time> cpu=<processor time> maxrss_kb=<peak resident memory>".

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "bench/measurement.h"
#include "engine/job.h"
#include "medialib/media_loader.h"

int main(int argc, char** argv)
{
    using namespace kelvaro;
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s INPUT OUTPUT [TARGET]\n", argv[0]);
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    if (!LoadMediaLibraries(ProgramLibraryFolder(), true)) {
        std::fprintf(stderr, "%s\n", LoadError().c_str());
        return 1;
    }
    std::mutex codecLock;
    TCustomFFmpegHlpr job(codecLock);
    job.Reset();
    job.SetLogLevel(-1);
    if (!job.OpenInputFile(argv[1])) {
        std::fprintf(stderr, "%s\n", job.LastError.c_str());
        return 1;
    }
    try {
        if (argc == 4) {
            job.SetTarget(argv[3], "auto", "pal");
        } else {
            job.VideoDisable = 1;
            if (std::strstr(argv[2], ".wma")) {
                job.SetAudioCodec("wmav2");
                job.SetOption("ab", "128000");
            } else {
                job.SetOutputFormat("wav");
            }
        }
    } catch (const FFMpegException& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    if (!job.OpenOutputFile(argv[2])) {
        std::fprintf(stderr, "%s\n", job.LastError.c_str());
        return 1;
    }
    try {
        job.StartTranscode(false, tpNormal);
    } catch (const FFMpegException& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    kelvaro::bench::PrintMeasurement(start);
    return job.Finished ? 0 : 1;
}
