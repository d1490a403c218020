#include "app/size_text.h"

#include <filesystem>

namespace kelvaro::app {

std::string FormatSizeText(int64_t size, TSizeTextVariant variant)
{
    const bool add = variant == TSizeTextVariant::Add;
    if (size == 0)
        return add ? "0KB" : "0 KB";
    if (size < 1024)
        return add ? "1KB" : "1 KB";
    if (size < 1048576)
        return std::to_string(size / 1024) + "KB";
    // Rounded up by one even on an exact megabyte: the list has always shown it so.
    return std::to_string(size / 1048576 + 1) + "MB";
}

int64_t GetFileSize(const std::string& fileName)
{
    std::error_code error;
    const std::filesystem::path path = std::filesystem::absolute(fileName, error);
    if (error)
        return -1;
    const auto size = std::filesystem::file_size(path, error);
    return error ? -1 : static_cast<int64_t>(size);
}

}  // namespace kelvaro::app
