#pragma once
// Small helpers that stand in for the FFmpeg headers' inline functions, so that the engine's
// arithmetic on rationals is its own and does not depend on what a header inlines.

#include <cstdint>
extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/rational.h>
}

namespace kelvaro {

// The microsecond time base in which the engine keeps its timestamps.
inline constexpr AVRational kMicrosecondBase{1, 1000000};

double RationalToDouble(AVRational value);
// Sign of a - b. The cross products are taken in 32-bit arithmetic and wrap like the
// library's own comparison did.
int CompareRational(AVRational a, AVRational b);
// a - b, reduced, with numerator and denominator at most 2^31 - 1.
AVRational SubtractRational(AVRational a, AVRational b);
// The fraction nearest to `value` with numerator and denominator at most `max`.
AVRational DoubleToRational(double value, int max);

template <class T>
constexpr T Clamp(T value, T low, T high)
{
    return value < low ? low : (value > high ? high : value);
}

}  // namespace kelvaro
