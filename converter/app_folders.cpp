#include "converter/app_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "converter/conversion_rule.h"
#include "converter/path_ini.h"
#include "medialib/media_loader.h"

namespace kelvaro {
namespace {

constexpr char kOutputSection[] = "Output";
constexpr char kHelpFile[] = "help.htm";

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string HomeFolder()
{
    std::string home = Environment("HOME");
    if (home.empty()) {
        // A session started without HOME (a service, sudo -H less) still has a home.
        if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir)
            home = entry->pw_dir;
    }
    return home.empty() ? "/tmp" : home;
}

}  // namespace

TAppFolders AppFoldersFromEnvironment()
{
    TAppFolders folders;
    const std::string home = FolderWithSeparator(HomeFolder());

    const std::string defaultFolder = Environment("KELVARO_DEFAULT_FOLDER");
    folders.DefaultFolder =
        FolderWithSeparator(defaultFolder.empty() ? home + "Kelvaro" : defaultFolder);

    // The base directory rules say a relative value is to be ignored.
    const std::string configHome = Environment("XDG_CONFIG_HOME");
    folders.ConfigFolder = configHome.empty() || configHome.front() != '/'
                               ? home + ".config/kelvaro/"
                               : FolderWithSeparator(configHome) + "kelvaro/";

    folders.ProgramFolder = ProgramFolder();
    folders.HelpFile = folders.ProgramFolder + kHelpFile;
    if (!std::filesystem::exists(folders.HelpFile))
        folders.HelpFile = FolderWithSeparator((std::filesystem::path(folders.ProgramFolder) /
                                                KELVARO_DATA_FROM_PROGRAM)
                                                   .lexically_normal()
                                                   .string()) +
                           kHelpFile;
    folders.LibraryFolder = ProgramLibraryFolder();
    return folders;
}

std::string DefaultOutputFolder(const TAppFolders& folders)
{
    const std::string stored = ReadStoredPath(folders.PathIniFile(), kOutputSection);
    return stored == kNoCode || stored.empty() ? folders.DefaultFolder : stored;
}

bool StoreDefaultOutputFolder(const TAppFolders& folders, const std::string& path)
{
    std::error_code error;
    std::filesystem::create_directories(folders.ConfigFolder, error);
    return !error && WriteStoredPath(folders.PathIniFile(), kOutputSection, path);
}

}  // namespace kelvaro
