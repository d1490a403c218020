#include "engine/temporary_output.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <random>
#include <set>
#include <utility>

namespace kelvaro {
namespace {

// Room left in a file name (at most 255 bytes) for the final name's own part.
constexpr size_t kMaxNamePart = 255 - 1 - 1 - 6 - (sizeof kTemporaryOutputSuffix - 1);
constexpr int kNameAttempts = 100;

std::string SystemReason(int error)
{
    return std::strerror(error);
}

std::pair<std::string, std::string> SplitFolder(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// Cut at a character boundary, so that the name stays valid UTF-8 where it was.
std::string CutNamePart(std::string name)
{
    if (name.size() <= kMaxNamePart)
        return name;
    size_t end = kMaxNamePart;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
        --end;
    name.resize(end);
    return name;
}

std::string RandomTag()
{
    static constexpr char kLetters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device source;
    std::string tag(6, ' ');
    for (char& c : tag)
        c = kLetters[source() % (sizeof kLetters - 1)];
    return tag;
}

bool EndsWith(const std::string& text, const char* suffix)
{
    const size_t length = std::strlen(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// An unnamed file, locked before it gets its name, so that no sweep can ever find it
// unlocked. -1 where the file system cannot make unnamed files.
int CreateLockedUnnamed(const std::string& folder, const std::string& prefix,
                        std::string& temporaryName, int& error)
{
    const int descriptor = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        error = errno;
        return -1;
    }
    flock(descriptor, LOCK_EX);
    const std::string self = "/proc/self/fd/" + std::to_string(descriptor);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        temporaryName = prefix + RandomTag() + kTemporaryOutputSuffix;
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporaryName.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return descriptor;
        if (errno != EEXIST)
            break;
    }
    error = errno;
    close(descriptor);
    return -1;
}

// The same with a named file: a sweep may take the name in the moment before the lock, so
// the name is checked to still be ours once locked.
int CreateLockedNamed(const std::string& prefix, std::string& temporaryName, int& error)
{
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        temporaryName = prefix + RandomTag() + kTemporaryOutputSuffix;
        const int descriptor =
            open(temporaryName.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        if (descriptor < 0) {
            if (errno == EEXIST)
                continue;
            error = errno;
            return -1;
        }
        struct stat opened {};
        struct stat named {};
        if (flock(descriptor, LOCK_EX | LOCK_NB) == 0 && fstat(descriptor, &opened) == 0 &&
            stat(temporaryName.c_str(), &named) == 0 && SameFile(opened, named))
            return descriptor;
        close(descriptor);
    }
    error = EEXIST;
    return -1;
}

}  // namespace

std::optional<TTemporaryOutput> TTemporaryOutput::Create(const std::string& finalName,
                                                         std::string& reason)
{
    struct stat existing {};
    if (stat(finalName.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode)) {
        reason = SystemReason(EISDIR);
        return std::nullopt;
    }
    const auto [folder, name] = SplitFolder(finalName);
    const long maxName = pathconf(folder.c_str(), _PC_NAME_MAX);
    if (name.size() > static_cast<size_t>(maxName > 0 ? maxName : NAME_MAX)) {
        reason = SystemReason(ENAMETOOLONG);
        return std::nullopt;
    }
    SweepAbandonedOutputs(folder);
    std::string prefix;
    if (finalName.find('/') != std::string::npos)
        prefix = folder == "/" ? folder : folder + '/';
    prefix += '.' + CutNamePart(name) + '.';

    std::string temporaryName;
    int error = 0;
    int descriptor = CreateLockedUnnamed(folder, prefix, temporaryName, error);
    if (descriptor < 0)
        descriptor = CreateLockedNamed(prefix, temporaryName, error);
    if (descriptor < 0) {
        reason = SystemReason(error);
        return std::nullopt;
    }
    return TTemporaryOutput(finalName, std::move(temporaryName), descriptor);
}

TTemporaryOutput::TTemporaryOutput(std::string finalName, std::string temporaryName,
                                   int lockDescriptor)
    : finalName_(std::move(finalName)),
      temporaryName_(std::move(temporaryName)),
      lockDescriptor_(lockDescriptor)
{
}

TTemporaryOutput::TTemporaryOutput(TTemporaryOutput&& other) noexcept
    : finalName_(std::move(other.finalName_)),
      temporaryName_(std::move(other.temporaryName_)),
      lockDescriptor_(std::exchange(other.lockDescriptor_, -1)),
      committed_(other.committed_)
{
}

TTemporaryOutput& TTemporaryOutput::operator=(TTemporaryOutput&& other) noexcept
{
    if (this != &other) {
        Discard();
        finalName_ = std::move(other.finalName_);
        temporaryName_ = std::move(other.temporaryName_);
        lockDescriptor_ = std::exchange(other.lockDescriptor_, -1);
        committed_ = other.committed_;
    }
    return *this;
}

TTemporaryOutput::~TTemporaryOutput()
{
    Discard();
}

void TTemporaryOutput::Discard()
{
    if (lockDescriptor_ < 0)
        return;
    // Still locked by us, so no sweep can have put another file under this name.
    if (!committed_)
        unlink(temporaryName_.c_str());
    close(lockDescriptor_);
    lockDescriptor_ = -1;
}

bool TTemporaryOutput::IsEmpty() const
{
    struct stat status {};
    return fstat(lockDescriptor_, &status) != 0 || status.st_size == 0;
}

bool TTemporaryOutput::Commit(std::string& reason)
{
    return CommitAs(finalName_, reason);
}

bool TTemporaryOutput::CommitAsPartial(std::string& reason)
{
    return CommitAs(PartialOutputName(finalName_), reason);
}

bool TTemporaryOutput::CommitAs(const std::string& name, std::string& reason)
{
    // On disk before it takes the name: after a power cut the name holds either the
    // earlier file or the whole new one.
    if (fsync(lockDescriptor_) != 0 || rename(temporaryName_.c_str(), name.c_str()) != 0) {
        reason = SystemReason(errno);
        return false;
    }
    committed_ = true;
    return true;
}

std::string PartialOutputName(const std::string& finalName)
{
    const size_t nameStart = finalName.rfind('/') + 1;  // 0 without a folder
    const size_t dot = finalName.rfind('.');
    if (dot == std::string::npos || dot <= nameStart)
        return finalName + ".partial";
    return finalName.substr(0, dot) + ".partial" + finalName.substr(dot);
}

void SweepAbandonedOutputs(const std::string& folder)
{
    static std::mutex mutex;
    static std::set<std::string> swept;
    {
        std::lock_guard lock(mutex);
        if (!swept.insert(folder).second)
            return;
    }
    DIR* directory = opendir(folder.c_str());
    if (!directory)
        return;
    const int folderDescriptor = dirfd(directory);
    while (const dirent* entry = readdir(directory)) {
        const std::string name = entry->d_name;
        if (name.size() < 2 || name[0] != '.' || !EndsWith(name, kTemporaryOutputSuffix))
            continue;
        const int descriptor =
            openat(folderDescriptor, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (descriptor < 0)
            continue;
        struct stat opened {};
        struct stat named {};
        // A lock we can take means its writer is gone.
        if (fstat(descriptor, &opened) == 0 && S_ISREG(opened.st_mode) &&
            flock(descriptor, LOCK_EX | LOCK_NB) == 0 &&
            fstatat(folderDescriptor, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            SameFile(opened, named))
            unlinkat(folderDescriptor, name.c_str(), 0);
        close(descriptor);
    }
    closedir(directory);
}

}  // namespace kelvaro
