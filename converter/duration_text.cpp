#include "converter/duration_text.h"

#include <algorithm>
#include <cstdint>

#include "engine/text_format.h"

namespace kelvaro {

std::string MinutesAndSeconds(std::chrono::milliseconds duration)
{
    const auto seconds = std::max<int64_t>(0, duration.count() / 1000);
    return Format("%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
}

}  // namespace kelvaro
