#pragma once
// What every benchmark program prints at its end, for the scripts to read.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>

namespace kelvaro::bench {

// Prints "seconds=<wall time since start> cpu=<processor time> maxrss_kb=<peak memory>".
inline void PrintMeasurement(std::chrono::steady_clock::time_point start)
{
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 +
                       usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    std::printf("seconds=%.4f cpu=%.4f maxrss_kb=%ld\n", seconds, cpu, usage.ru_maxrss);
}

}  // namespace kelvaro::bench
