#pragma once
// The file sizes the list shows. Add and the rebuild in Convert write the same classes of
// size with slightly different texts.

#include <cstdint>
#include <string>

namespace kelvaro::app {

enum class TSizeTextVariant { Add, Convert };

// 0 → "0KB" ("0 KB"); below 1024, negative included, → "1KB" ("1 KB"); below 1048576 → whole
// kilobytes + "KB"; from 1048576 on → whole megabytes + 1 + "MB".
std::string FormatSizeText(int64_t size, TSizeTextVariant variant);

// The size in bytes of the fully expanded `fileName`, or -1 when it cannot be found.
int64_t GetFileSize(const std::string& fileName);

}  // namespace kelvaro::app
