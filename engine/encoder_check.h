#pragma once
// Whether an encoder writes the bit rate it is asked for, asked of the encoder itself before
// a job's output is opened, so that a file gets the reason rather than a file at another
// rate or a refusal in the library's words.

#include <cstdint>
#include <mutex>
#include <string>

namespace kelvaro {

// Empty when `encoder` writes `bitRate` (within a few percent: encoders round their block
// sizes) at `sampleRate` and `channels`; otherwise why not, naming it `label`: "the AAC
// encoder writes at most 48000 bit/s at 8000 Hz with 1 channel, not 512000", or "the Opus
// encoder refuses 300000 bit/s at 48000 Hz with 1 channel". `codecLock` guards the opening
// as it does every encoder's.
std::string EncoderBitRateProblem(const std::string& encoder, const std::string& label,
                                  int64_t bitRate, int32_t sampleRate, int32_t channels,
                                  std::mutex& codecLock);

}  // namespace kelvaro
