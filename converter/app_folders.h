#pragma once
// Where the front ends find and keep their files on a Linux desktop.

#include <string>

namespace kelvaro {

struct TAppFolders {
    // The fallback output folder, with a trailing '/'.
    std::string DefaultFolder;
    // The folder of Path.ini and of the window's own settings, with a trailing '/'. It may not
    // exist yet; writers create it.
    std::string ConfigFolder;
    // The folder holding the program, with a trailing '/'.
    std::string ProgramFolder;
    // The help page: help.htm beside the program (as in the build tree), else in the data
    // folder of the installed tree.
    std::string HelpFile;
    // Where the media libraries are looked for first: the folder "Lib" beside the program;
    // empty in a build for distributions, which uses the system's libraries only.
    std::string LibraryFolder;

    std::string PathIniFile() const { return ConfigFolder + "Path.ini"; }
    // Window placement, format choice and last opened folder; kept apart from Path.ini, which
    // holds the output folder alone.
    std::string WindowIniFile() const { return ConfigFolder + "Kelvaro.ini"; }
};

// DefaultFolder: $KELVARO_DEFAULT_FOLDER when set, else $HOME/Kelvaro/.
// ConfigFolder: $XDG_CONFIG_HOME/kelvaro/ when that is an absolute path, else
// $HOME/.config/kelvaro/. ProgramFolder: the running program's folder; HelpFile and
// LibraryFolder from it.
TAppFolders AppFoldersFromEnvironment();

// The output folder the user keeps as the default: the one stored in Path.ini by the window's
// settings, else the fallback DefaultFolder. Read afresh on every call.
std::string DefaultOutputFolder(const TAppFolders& folders);
// Stores `path` as that default, creating the configuration folder when it is missing. False
// when the folder or the file cannot be written; an earlier file then stays as it was.
bool StoreDefaultOutputFolder(const TAppFolders& folders, const std::string& path);

}  // namespace kelvaro
