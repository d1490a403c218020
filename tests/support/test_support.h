#pragma once
// Helpers shared by the test executables.

#include <string>

namespace kelvaro::test {

// Binds the system's media libraries (once per process) and installs the library log
// callback; fails the calling test when they cannot be loaded.
void LoadMediaLibrariesForTest();

}  // namespace kelvaro::test
