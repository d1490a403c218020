// Writes the benchmark's inputs: a 44.1 kHz stereo WAV and MP3 of the given length, or with
// "video", 640x480 pictures at 25 a second (MPEG-4 in NUT) of the given length in seconds.
// Usage: bench_make_input FOLDER MINUTES | bench_make_input FOLDER video SECONDS

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fixtures/media_fixtures.h"

int main(int argc, char** argv)
{
    using namespace kelvaro::fixtures;
    if (argc == 4 && std::string(argv[2]) == "video") {
        VideoSpec video;
        video.width = 640;
        video.height = 480;
        video.seconds = std::atof(argv[3]);
        const std::string path =
            std::string(argv[1]) + "/video-" + std::to_string(std::atoi(argv[3])) + "s.nut";
        MakeVideo(path, video);
        std::printf("%s\n", path.c_str());
        return 0;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FOLDER MINUTES | %s FOLDER video SECONDS\n", argv[0],
                     argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const int minutes = std::atoi(argv[2]);
    AudioSpec audioSpec;
    audioSpec.sampleRate = 44100;
    audioSpec.channels = 2;
    audioSpec.seconds = minutes * 60.0;
    audioSpec.signal = Signal::Speech;
    const std::string stem = folder + "/input-" + std::to_string(minutes) + "min";
    MakeWav(stem + ".wav", audioSpec);
    MakeMp3(stem + ".mp3", audioSpec);
    std::printf("%s.wav\n%s.mp3\n", stem.c_str(), stem.c_str());
    return 0;
}
