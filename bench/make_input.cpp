// Writes the benchmark's inputs: a 44.1 kHz stereo WAV and MP3 of the given length.
// Usage: bench_make_input FOLDER MINUTES

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fixtures/media_fixtures.h"

int main(int argc, char** argv)
{
    using namespace kelvaro::fixtures;
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FOLDER MINUTES\n", argv[0]);
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
