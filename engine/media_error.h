#pragma once

#include <string>

namespace kelvaro {

// A media-library error code and the name of what failed, as a message for the user.
std::string MediaErrorText(const std::string& name, int code);

// The media library's own words for an error code ("No space left on device").
std::string ErrorReason(int code);

}  // namespace kelvaro
