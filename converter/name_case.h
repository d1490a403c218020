#pragma once
// Whether a folder's file system tells names apart by case: a FAT or exFAT stick does not,
// so "Song.wma" and "song.wma" are one file there.

#include <functional>
#include <string>

namespace kelvaro {

// Answers for one folder; a seam, so that a test can stand for a case-insensitive disk.
using TFolderCaseQuery = std::function<bool(const std::string& folder)>;

// Asks the file system rather than guessing from its type: an entry of the folder (or the
// folder itself, in its parent) is looked up under its name in the other case. A folder that
// does not exist yet answers for its nearest existing parent. False when nothing can tell.
bool FolderIgnoresCase(const std::string& folder);

}  // namespace kelvaro
