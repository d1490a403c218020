#pragma once
// Loading the media libraries at run time and binding their functions by name.
//
// Runs on the main thread before any job exists; takes no lock. While it runs it changes the
// process's current directory (and restores it), so nothing else may depend on it then.

#include <functional>
#include <string>
#include <vector>

#include "medialib/media_library.h"

namespace kelvaro {

// The loader's table. The process-wide one binds FFmpeg; tests build their own over fake
// libraries.
struct MediaLibrarySet {
    // Presence, binding and failure reports follow this order; the first failure stops it.
    std::vector<MediaLibrary*> bindOrder;
    // Files found in the library folder are mapped in this order, so that each library's
    // own dependencies resolve to the folder's copies rather than the system's.
    std::vector<MediaLibrary*> dependencyOrder;
    // The libraries whose file name follows the versioned-name switch.
    std::vector<MediaLibrary*> versionedNames;
    // Optional libraries: bound after a successful load, their failure ignored.
    std::vector<MediaLibrary*> optional;
    // Runs once after a successful load.
    std::function<void()> onLoaded;

    bool loaded = false;
    std::string loadError;
};

// The set that binds the five FFmpeg libraries and the optional RealVideo decoder library.
MediaLibrarySet& DefaultMediaLibraries();

// Loads and binds every library of the set; answers true at once when already loaded.
// A failure leaves the failing library's text in LoadError() and no library loaded.
bool LoadMediaLibraries(const std::string& folder, bool versioned);
bool LoadMediaLibraries(MediaLibrarySet& set, const std::string& folder, bool versioned);
void UnloadMediaLibraries();
void UnloadMediaLibraries(MediaLibrarySet& set);

bool MediaLibrariesLoaded();
const std::string& LoadError();

// The folder the program looks in first: the program's own folder followed by "Lib"; empty
// in a build without that folder (for distributions), so that only the system's libraries
// are used.
std::string ProgramLibraryFolder();
// The folder that holds the running program, with a trailing '/'.
std::string ProgramFolder();

}  // namespace kelvaro
