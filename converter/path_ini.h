#pragma once
// A small INI file store in the manner of the Windows profile functions: section and key names
// compare without regard to letter case, each read goes to the file afresh, and a write keeps
// every other line of the file as it was.
//
// Not thread-safe: the window uses it on the user-interface thread, the command line on its
// main thread.

#include <string>
#include <string_view>

namespace kelvaro {

class TIniFile final {
public:
    explicit TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}

    const std::string& FileName() const { return fileName_; }

    // The value of `key` in the first section named `section`, blanks around it removed, or
    // `fallback` when the file, the section or the key is missing or the file is unreadable.
    std::string ReadString(std::string_view section, std::string_view key,
                           const std::string& fallback) const;
    // Stores `value` under `key` in `section`, creating the file, the section or the key as
    // needed. The file is replaced whole, so a failed write leaves the old one intact. False
    // when the file cannot be written (its folder must exist) or when a name or the value
    // holds a line break, which the format cannot carry.
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);

private:
    std::string fileName_;
};

// The marker a reader of Path.ini gets when no output folder is stored; a stored value that
// reads exactly so counts as none.
inline constexpr char kNoCode[] = "NoCode";

// The output folder stored in `iniFile` under key "Path" of `section`, or kNoCode.
std::string ReadStoredPath(const std::string& iniFile, std::string_view section);
// Stores `path` where ReadStoredPath finds it; as TIniFile::WriteString.
bool WriteStoredPath(const std::string& iniFile, std::string_view section, std::string_view path);

}  // namespace kelvaro
