#include "converter/path_ini.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

namespace kelvaro {
namespace {

std::string_view Trim(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool SameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

// The section name of a "[name]" line.
std::optional<std::string_view> SectionName(std::string_view line)
{
    line = Trim(line);
    if (line.size() < 2 || line.front() != '[')
        return std::nullopt;
    const size_t close = line.find(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    return Trim(line.substr(1, close - 1));
}

// The key of a "key=value" line; comments and blank lines have none.
std::optional<std::string_view> KeyName(std::string_view line)
{
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#')
        return std::nullopt;
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos)
        return std::nullopt;
    return Trim(line.substr(0, equals));
}

std::string ValueOf(std::string_view line)
{
    std::string_view value = Trim(line.substr(line.find('=') + 1));
    // Quotes around the whole value are the file's, not the value's.
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return std::string(value);
}

std::optional<std::vector<std::string>> ReadLines(const std::string& fileName)
{
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
    }
    if (in.bad())
        return std::nullopt;
    return lines;
}

bool HasLineBreak(std::string_view text)
{
    return text.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 const std::string& fallback) const
{
    const auto lines = ReadLines(fileName_);
    if (!lines)
        return fallback;
    bool inSection = false;
    bool seenSection = false;
    for (const std::string& line : *lines) {
        if (const auto name = SectionName(line)) {
            // Only the first section of that name counts, as with the profile functions.
            if (seenSection)
                break;
            inSection = SameName(*name, section);
            seenSection = inSection;
            continue;
        }
        if (!inSection)
            continue;
        if (const auto name = KeyName(line); name && SameName(*name, key))
            return ValueOf(line);
    }
    return fallback;
}

bool TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value) ||
        Trim(section).empty() || Trim(key).empty())
        return false;
    std::vector<std::string> lines = ReadLines(fileName_).value_or(std::vector<std::string>{});
    const std::string entry = std::string(key) + "=" + std::string(value);

    // Where the section starts and where its last non-blank line is.
    std::optional<size_t> sectionLine;
    size_t lastInSection = 0;
    bool replaced = false;
    for (size_t i = 0; i < lines.size() && !replaced; ++i) {
        if (const auto name = SectionName(lines[i])) {
            if (sectionLine)
                break;
            if (SameName(*name, section)) {
                sectionLine = i;
                lastInSection = i;
            }
            continue;
        }
        if (!sectionLine)
            continue;
        if (!Trim(lines[i]).empty())
            lastInSection = i;
        if (const auto name = KeyName(lines[i]); name && SameName(*name, key)) {
            lines[i] = entry;
            replaced = true;
        }
    }
    if (!replaced) {
        if (sectionLine) {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lastInSection + 1), entry);
        } else {
            if (!lines.empty() && !Trim(lines.back()).empty())
                lines.emplace_back();
            lines.push_back("[" + std::string(section) + "]");
            lines.push_back(entry);
        }
    }

    std::ostringstream text;
    for (const std::string& line : lines)
        text << line << '\n';
    const std::string content = text.str();

    // Written beside the file and renamed over it, so that a reader never sees half a file.
    const std::string temporary = fileName_ + ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out)
            return false;
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        out.flush();
        if (!out) {
            out.close();
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), fileName_.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

namespace {

constexpr char kPathKey[] = "Path";

}  // namespace

std::string ReadStoredPath(const std::string& iniFile, std::string_view section)
{
    return TIniFile(iniFile).ReadString(section, kPathKey, kNoCode);
}

bool WriteStoredPath(const std::string& iniFile, std::string_view section, std::string_view path)
{
    return TIniFile(iniFile).WriteString(section, kPathKey, path);
}

}  // namespace kelvaro
