#pragma once

#include <string>

namespace kelvaro {

// A media-library error code and the name of what failed, as a message for the user.
std::string MediaErrorText(const std::string& name, int code);

}  // namespace kelvaro
