#include "cli/batch_inputs.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "converter/audio_extensions.h"
#include "converter/conversion_rule.h"

namespace kelvaro::cli {
namespace {

namespace fs = std::filesystem;

constexpr size_t kReadSize = 65536;

std::string Joined(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool IsFolder(const std::string& path, struct stat& status)
{
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

std::string KeptPath(const std::string& path)
{
    const fs::path normal = fs::path(path).lexically_normal();
    fs::path kept;
    bool leading = true;
    for (const fs::path& part : normal) {
        // As tar takes them: never above the folder the outputs go to.
        if (leading && (part == "/" || part == ".." || part == "."))
            continue;
        leading = false;
        kept /= part;
    }
    return kept.empty() ? FileNamePart(path) : kept.string();
}

TBatchInputs::TBatchInputs(const TCommandLine& command, const std::string& skippedFolder)
    : recursive_(command.Recursive),
      named_(command.Files),
      separator_(command.NulSeparated ? '\0' : '\n')
{
    struct stat status {};
    if (!skippedFolder.empty() && IsFolder(skippedFolder, status))
        skippedFolder_ = std::pair(status.st_dev, status.st_ino);
    if (command.FilesFrom.empty())
        return;
    listName_ = command.FilesFrom == "-" ? "standard input" : command.FilesFrom;
    if (command.FilesFrom == "-") {
        listDescriptor_ = STDIN_FILENO;
    } else {
        listDescriptor_ = ::open(command.FilesFrom.c_str(), O_RDONLY | O_CLOEXEC);
        if (listDescriptor_ < 0)
            throw std::runtime_error("cannot read the list " + listName_ + ": " +
                                     std::strerror(errno));
        ownsDescriptor_ = true;
    }
    listEnded_ = false;
    // A list in a file is read at once (its names cost little): every name is then known
    // before any output is claimed. One on a pipe is read as it comes.
    struct stat list {};
    if (::fstat(listDescriptor_, &list) != 0 || !S_ISREG(list.st_mode))
        return;
    while (std::optional<std::string> name = NextListed(std::chrono::milliseconds(0)))
        named_.push_back(std::move(*name));
    if (!error_.empty())
        throw std::runtime_error(error_);
}

TBatchInputs::~TBatchInputs()
{
    if (ownsDescriptor_)
        ::close(listDescriptor_);
}

bool TBatchInputs::Ended() const
{
    return walks_.empty() && nextNamed_ >= named_.size() && listEnded_ && buffer_.empty();
}

bool TBatchInputs::FirstVisit(const std::string& folder)
{
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0)
        return true;  // opening it says why
    const std::pair key(status.st_dev, status.st_ino);
    if (skippedFolder_ && key == *skippedFolder_)
        return false;
    return visited_.insert(key).second;
}

std::optional<TListedFile> TBatchInputs::EnterFolder(const std::string& root,
                                                  const std::string& relative)
{
    const std::string folder = Joined(root, relative);
    if (!FirstVisit(folder))
        return std::nullopt;
    DIR* directory = ::opendir(folder.c_str());
    if (!directory) {
        TListedFile file{folder, relative, true, {}};
        file.Problem = "cannot read the folder: " + std::string(std::strerror(errno));
        return file;
    }
    TFolderWalk walk{root, relative, {}, 0};
    while (const dirent* entry = ::readdir(directory)) {
        // Hidden entries (and "." and ".."), as a file manager leaves them out; unfinished
        // outputs are hidden too.
        if (entry->d_name[0] != '.')
            walk.Names.emplace_back(entry->d_name);
    }
    ::closedir(directory);
    std::sort(walk.Names.begin(), walk.Names.end());
    for (const std::string& name : walk.Names)
        if (HasAudioExtension(name))
            met_.push_back(Joined(folder, name));
    walks_.push_back(std::move(walk));
    return std::nullopt;
}

std::optional<TListedFile> TBatchInputs::NextFound()
{
    while (!walks_.empty()) {
        TFolderWalk& walk = walks_.back();
        if (walk.Next >= walk.Names.size()) {
            walks_.pop_back();
            continue;
        }
        const std::string relative = Joined(walk.Relative, walk.Names[walk.Next++]);
        const std::string root = walk.Root;  // `walk` may move below
        const std::string path = Joined(root, relative);
        struct stat status {};
        if (IsFolder(path, status)) {
            if (auto problem = EnterFolder(root, relative))
                return problem;
            continue;
        }
        // Only named ones are read as streams.
        if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
            ++skippedSpecial_;
            continue;
        }
        if (HasAudioExtension(path))
            return TListedFile{path, relative, true, {}};
    }
    return std::nullopt;
}

std::optional<TListedFile> TBatchInputs::Named(const std::string& path)
{
    TListedFile file{path, KeptPath(path), false, {}};
    struct stat status {};
    if (!IsFolder(path, status))
        return file;
    if (!recursive_) {
        file.Problem = "is a folder; --recursive converts the audio files beneath it";
        return file;
    }
    if (auto problem = EnterFolder(path, {}))
        return problem;
    return NextFound();
}

std::optional<std::string> TBatchInputs::NextListed(std::chrono::milliseconds wait)
{
    while (true) {
        const size_t end = buffer_.find(separator_);
        if (end != std::string::npos) {
            std::string name = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            if (name.empty())
                continue;
            return name;
        }
        if (listEnded_) {
            // The last name needs no separator after it.
            if (buffer_.empty())
                return std::nullopt;
            return std::exchange(buffer_, {});
        }
        pollfd ready{listDescriptor_, POLLIN, 0};
        const int polled = ::poll(&ready, 1, static_cast<int>(wait.count()));
        if (polled == 0 || (polled < 0 && errno == EINTR))
            return std::nullopt;
        char chunk[kReadSize];
        const ssize_t got = ::read(listDescriptor_, chunk, sizeof chunk);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            return std::nullopt;
        if (got < 0)
            error_ = "cannot read the list " + listName_ + ": " + std::strerror(errno);
        if (got <= 0) {
            listEnded_ = true;
            continue;
        }
        buffer_.append(chunk, static_cast<size_t>(got));
        wait = std::chrono::milliseconds(0);
    }
}

std::optional<TListedFile> TBatchInputs::Next(std::chrono::milliseconds wait)
{
    while (true) {
        if (auto found = NextFound())
            return found;
        if (nextNamed_ < named_.size()) {
            if (auto file = Named(named_[nextNamed_++]))
                return file;
            continue;
        }
        const std::optional<std::string> listed = NextListed(wait);
        if (!listed)
            return std::nullopt;
        if (auto file = Named(*listed))
            return file;
    }
}

}  // namespace kelvaro::cli
