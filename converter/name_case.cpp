#include "converter/name_case.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <optional>

namespace kelvaro {
namespace {

// The name with every ASCII letter in the other case; the name itself when it has none.
std::string OtherCase(std::string name)
{
    for (char& c : name) {
        const auto letter = static_cast<unsigned char>(c);
        c = static_cast<char>(std::islower(letter) ? std::toupper(letter) : std::tolower(letter));
    }
    return name;
}

// Whether `name` in `folder` is found under its other-case name as the same file; nullopt
// when the name holds no letter or is not there.
std::optional<bool> SameUnderOtherCase(int folder, const std::string& name)
{
    const std::string other = OtherCase(name);
    struct stat own {};
    if (other == name || fstatat(folder, name.c_str(), &own, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    struct stat found {};
    return fstatat(folder, other.c_str(), &found, AT_SYMLINK_NOFOLLOW) == 0 &&
           found.st_dev == own.st_dev && found.st_ino == own.st_ino;
}

}  // namespace

bool FolderIgnoresCase(const std::string& folder)
{
    std::error_code error;
    std::filesystem::path existing = std::filesystem::absolute(folder, error);
    while (!error && !std::filesystem::is_directory(existing, error) &&
           existing.has_parent_path() && existing != existing.parent_path())
        existing = existing.parent_path();
    if (DIR* directory = opendir(existing.c_str())) {
        std::optional<bool> answer;
        while (!answer)
            if (const dirent* entry = readdir(directory))
                answer = SameUnderOtherCase(dirfd(directory), entry->d_name);
            else
                break;
        closedir(directory);
        if (answer)
            return *answer;
    }
    // An empty folder: its own name in its parent tells, when both are on one file system.
    const std::filesystem::path parent = existing.parent_path();
    struct stat self {};
    struct stat above {};
    if (existing.filename().empty() || stat(existing.c_str(), &self) != 0 ||
        stat(parent.c_str(), &above) != 0 || self.st_dev != above.st_dev)
        return false;
    const int parentFolder = open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parentFolder < 0)
        return false;
    const std::optional<bool> answer = SameUnderOtherCase(parentFolder, existing.filename());
    close(parentFolder);
    return answer.value_or(false);
}

}  // namespace kelvaro
