#pragma once
// The files of a batch, one at a time: those named on the command line, then those of the
// list file, with folders walked into the audio files beneath them. A list on a pipe is
// read as it comes, so that the first file converts while later ones are still listed.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cli/command_line.h"

namespace kelvaro::cli {

struct TListedFile {
    std::string Path;
    // Its path below the folder it was found under, for --keep-structure: below the walked
    // folder for a file a walk found; for a named file, its own path (see KeptPath).
    std::string Relative;
    // Found by walking a folder, rather than named.
    bool Found = false;
    // Why it cannot be converted (a folder without --recursive, a folder that cannot be
    // read); empty when it can be tried.
    std::string Problem;
};

// Main thread only.
class TBatchInputs final {
public:
    // `command`'s files, then the names of its list (opened here: std::runtime_error with
    // the reason when it cannot be). A walk does not enter `skippedFolder` (the output
    // folder, whose files are this batch's outputs), nor hidden folders, nor a folder twice.
    TBatchInputs(const TCommandLine& command, const std::string& skippedFolder);
    ~TBatchInputs();
    TBatchInputs(const TBatchInputs&) = delete;
    TBatchInputs& operator=(const TBatchInputs&) = delete;

    // The next file. Nothing when the list has ended, or when a list on a pipe had nothing
    // more within `wait`.
    std::optional<TListedFile> Next(std::chrono::milliseconds wait);
    // The names known before any is taken: those of the command line, then those of a list
    // in a regular file, which is read at once. A list on a pipe is read as it comes.
    const std::vector<std::string>& KnownNames() const { return named_; }
    // The audio files of the folders walks entered since the last call. A folder is read
    // whole as it is entered, so its files are known before the first of them is taken.
    std::vector<std::string> TakeMetInputs() { return std::exchange(met_, {}); }
    // What walks skipped for not being a regular file or a folder: FIFOs, sockets, devices,
    // which would wait or read for ever.
    size_t SkippedSpecialFiles() const { return skippedSpecial_; }
    bool Ended() const;
    // Why the list could not be read to its end; empty when it could.
    const std::string& Error() const { return error_; }

private:
    struct TFolderWalk {
        std::string Root;                // the folder as it was named
        std::string Relative;            // of this folder below Root; empty for Root itself
        std::vector<std::string> Names;  // its entries, in name order
        size_t Next = 0;
    };

    // A named file or folder.
    std::optional<TListedFile> Named(const std::string& path);
    // Enters a folder; a file that says why when it cannot be read.
    std::optional<TListedFile> EnterFolder(const std::string& root, const std::string& relative);
    std::optional<TListedFile> NextFound();
    // The next name of the list, reading more when `wait` allows.
    std::optional<std::string> NextListed(std::chrono::milliseconds wait);
    bool FirstVisit(const std::string& folder);

    bool recursive_;
    std::vector<std::string> named_;
    size_t nextNamed_ = 0;
    std::vector<TFolderWalk> walks_;
    std::vector<std::string> met_;
    size_t skippedSpecial_ = 0;
    std::set<std::pair<dev_t, ino_t>> visited_;
    std::optional<std::pair<dev_t, ino_t>> skippedFolder_;

    int listDescriptor_ = -1;
    bool ownsDescriptor_ = false;
    char separator_ = '\n';
    std::string buffer_;
    bool listEnded_ = true;
    std::string listName_;
    std::string error_;
};

// A named file's path as --keep-structure keeps it below the output folder: its own path,
// without a leading "/", "./" or "../" (as tar stores names), so never above that folder.
std::string KeptPath(const std::string& path);

}  // namespace kelvaro::cli
