#include "medialib/media_helpers.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "medialib/media_functions.h"

namespace kelvaro {
namespace {

// Products in 32 bits with wrap-around, without the undefined behaviour of signed overflow.
int32_t Multiply32(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

int32_t Subtract32(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

}  // namespace

double RationalToDouble(AVRational value)
{
    return static_cast<double>(value.num) / static_cast<double>(value.den);
}

int CompareRational(AVRational a, AVRational b)
{
    const int32_t difference = Subtract32(Multiply32(a.num, b.den), Multiply32(b.num, a.den));
    return difference > 0 ? 1 : (difference < 0 ? -1 : 0);
}

AVRational SubtractRational(AVRational a, AVRational b)
{
    const int64_t numerator = Subtract32(Multiply32(a.num, b.den), Multiply32(b.num, a.den));
    const int64_t denominator = Multiply32(a.den, b.den);
    AVRational result{0, 1};
    avutil.av_reduce(&result.num, &result.den, numerator, denominator,
                     std::numeric_limits<int32_t>::max());
    return result;
}

AVRational DoubleToRational(double value, int max)
{
    if (std::isnan(value))
        return AVRational{0, 0};
    if (std::fabs(value) >= 0x1p62)  // beyond the reach of a 64-bit numerator
        return AVRational{value < 0 ? -max : max, 1};
    const int exponent = std::clamp(
        static_cast<int>(std::nearbyint(std::log2(std::fabs(value) + 1e-20))), 0, 61);
    const int64_t denominator = int64_t{1} << (61 - exponent);
    const double numerator = std::nearbyint(value * static_cast<double>(denominator) + 0.5);
    AVRational result{0, 1};
    avutil.av_reduce(&result.num, &result.den, static_cast<int64_t>(numerator), denominator, max);
    return result;
}

}  // namespace kelvaro
