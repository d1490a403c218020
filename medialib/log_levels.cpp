#include "medialib/log_levels.h"

#include "medialib/media_functions.h"

namespace kelvaro {

std::atomic<int> LogThreshold{1};
std::atomic<int> LibraryWarningLevel{1};

int LevelFromLibrary(int libraryLevel)
{
    const int level = libraryLevel & 0xff;  // bits above carry colour hints
    if (libraryLevel < AV_LOG_PANIC)
        return -1;
    if (level <= AV_LOG_ERROR)
        return 0;
    if (level <= AV_LOG_WARNING)
        return LibraryWarningLevel.load(std::memory_order_relaxed);
    if (level <= AV_LOG_INFO)
        return 1;
    if (level <= AV_LOG_DEBUG)
        return 2;
    return 3;
}

int LibraryLevelFromLevel(int level)
{
    switch (level) {
    case 0:
        return AV_LOG_ERROR;
    case 1:
        return AV_LOG_INFO;
    case 2:
        return AV_LOG_DEBUG;
    default:
        return level < 0 ? AV_LOG_QUIET : AV_LOG_TRACE;
    }
}

}  // namespace kelvaro
