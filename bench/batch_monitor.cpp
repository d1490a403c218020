// Runs a command and watches it as a user with a large batch would: the most files it held
// open at once, the time until the first finished output appeared in the output folder (a
// visible file: unfinished ones are hidden), its total time and its peak memory.
// Usage: bench_batch_monitor OUTPUT_FOLDER COMMAND [ARGUMENTS...]
// Prints "status=... seconds=... first_output_s=... peak_fds=... maxrss_kb=...".

#include <dirent.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

extern char** environ;

namespace {

int OpenFiles(pid_t pid)
{
    DIR* folder = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    if (!folder)
        return 0;
    int count = 0;
    while (readdir(folder))
        ++count;
    closedir(folder);
    return std::max(0, count - 2);  // "." and ".."
}

bool HasFinishedOutput(const char* folder)
{
    DIR* directory = opendir(folder);
    if (!directory)
        return false;
    bool found = false;
    while (const dirent* entry = readdir(directory)) {
        if (entry->d_name[0] != '.') {
            found = true;
            break;
        }
    }
    closedir(directory);
    return found;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER COMMAND [ARGUMENTS...]\n", argv[0]);
        return 2;
    }
    const char* outputFolder = argv[1];
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[2], nullptr, nullptr, argv + 2, environ) != 0) {
        std::perror("posix_spawnp");
        return 2;
    }
    int peakFiles = 0;
    double firstOutput = -1;
    int status = 0;
    for (;;) {
        const pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid)
            break;
        peakFiles = std::max(peakFiles, OpenFiles(pid));
        if (firstOutput < 0 && HasFinishedOutput(outputFolder))
            firstOutput =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    std::printf("status=%d seconds=%.3f first_output_s=%.3f peak_fds=%d maxrss_kb=%ld\n",
                WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), seconds,
                firstOutput, peakFiles, usage.ru_maxrss);
    return 0;
}
