#pragma once
// How the front ends write a length of time for people to read.

#include <chrono>
#include <string>

namespace kelvaro {

// "m:ss" in whole seconds, minutes unbounded ("75:03"); a negative duration reads "0:00".
std::string MinutesAndSeconds(std::chrono::milliseconds duration);

}  // namespace kelvaro
