#pragma once
// Kelvaro counts log levels on a small scale of its own: -1 quiet, 0 error, 1 info, 2 debug,
// 3 all. FFmpeg counts in steps of 8 with more levels; these functions translate both ways.

#include <atomic>

namespace kelvaro {

// The library log callback drops every message above this level. One value for the whole
// process: whichever job set its level last decides for all jobs.
extern std::atomic<int> LogThreshold;

// The level library warnings take on Kelvaro's scale: 1 (info) unless set, so that asking
// for errors only hides them; 0 shows them with the errors. One value for the whole process.
extern std::atomic<int> LibraryWarningLevel;

// FFmpeg level (flag bits above 0xff allowed) to Kelvaro's scale. Panic, fatal and error
// become 0, warning LibraryWarningLevel, info 1, verbose and debug 2.
int LevelFromLibrary(int libraryLevel);
// Kelvaro's scale to FFmpeg's, for av_log_set_level and the engine's own av_log calls.
int LibraryLevelFromLevel(int level);

}  // namespace kelvaro
