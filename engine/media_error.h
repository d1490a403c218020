#pragma once

#include <string>

namespace kelvaro {

// A media-library error code and the name of what failed, as a message for the user: the
// fixed text of the code, followed by the code's own reason where that text does not say it.
std::string MediaErrorText(const std::string& name, int code);
// The reason a library error code carries: the system's text for the error number it wraps,
// the library's own text for its other codes.
std::string ErrorReason(int code);

}  // namespace kelvaro
