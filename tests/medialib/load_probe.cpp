// Loads the media libraries from the folder given as argument and prints every FFmpeg
// library file mapped into this process, one per line. Exit status 0 when loading succeeded.

#include <cstdio>
#include <fstream>
#include <set>
#include <string>

#include "medialib/media_loader.h"

int main(int argc, char** argv)
{
    const std::string folder = argc > 1 ? argv[1] : "";
    const bool loaded = kelvaro::LoadMediaLibraries(folder, true);
    if (!loaded)
        std::fprintf(stderr, "%s\n", kelvaro::LoadError().c_str());
    std::ifstream maps("/proc/self/maps");
    std::set<std::string> files;
    for (std::string line; std::getline(maps, line);) {
        const size_t slash = line.find('/');
        if (slash == std::string::npos)
            continue;
        const std::string path = line.substr(slash);
        const std::string name = path.substr(path.rfind('/') + 1);
        for (const char* stem : {"libavutil.", "libavcodec.", "libavformat.", "libswscale.",
                                 "libswresample."})
            if (name.rfind(stem, 0) == 0)
                files.insert(path);
    }
    for (const std::string& file : files)
        std::printf("%s\n", file.c_str());
    return loaded ? 0 : 1;
}
