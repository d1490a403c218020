#include "converter/app_folders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "converter/path_ini.h"
#include "fixtures/media_fixtures.h"
#include "medialib/media_loader.h"

namespace kelvaro {
namespace {

// Sets an environment variable for one test and puts it back afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(AppFolders, FollowTheHomeFolderByDefault)
{
    ScopedEnv home("HOME", "/home/someone");
    ScopedEnv folder("KELVARO_DEFAULT_FOLDER", nullptr);
    ScopedEnv config("XDG_CONFIG_HOME", nullptr);
    const TAppFolders folders = AppFoldersFromEnvironment();
    EXPECT_EQ(folders.DefaultFolder, "/home/someone/Kelvaro/");
    EXPECT_EQ(folders.ConfigFolder, "/home/someone/.config/kelvaro/");
    EXPECT_EQ(folders.PathIniFile(), "/home/someone/.config/kelvaro/Path.ini");
    EXPECT_EQ(folders.ProgramFolder.back(), '/');
    // Beside the program in a build tree, in the data folder of an installed one.
    EXPECT_TRUE(folders.HelpFile.ends_with("/help.htm")) << folders.HelpFile;
    EXPECT_EQ(folders.LibraryFolder, ProgramLibraryFolder());
}

TEST(AppFolders, EnvironmentOverridesGainTheirSeparator)
{
    ScopedEnv home("HOME", "/home/someone/");
    ScopedEnv folder("KELVARO_DEFAULT_FOLDER", "/data/converted");
    ScopedEnv config("XDG_CONFIG_HOME", "/etc/xdg-user");
    const TAppFolders folders = AppFoldersFromEnvironment();
    EXPECT_EQ(folders.DefaultFolder, "/data/converted/");
    EXPECT_EQ(folders.ConfigFolder, "/etc/xdg-user/kelvaro/");
}

TEST(AppFolders, TheStoredDefaultOutputFolderWinsOverTheFallback)
{
    fixtures::TempDir config;
    ScopedEnv configHome("XDG_CONFIG_HOME", config.Path().c_str());
    ScopedEnv folder("KELVARO_DEFAULT_FOLDER", "/data/converted");
    const TAppFolders folders = AppFoldersFromEnvironment();
    EXPECT_EQ(DefaultOutputFolder(folders), "/data/converted/") << "nothing stored yet";
    std::filesystem::create_directories(folders.ConfigFolder);
    ASSERT_TRUE(TIniFile(folders.PathIniFile()).WriteString("OUTPUT", "Path", "/music/mine"));
    EXPECT_EQ(DefaultOutputFolder(folders), "/music/mine");
    ASSERT_TRUE(TIniFile(folders.PathIniFile()).WriteString("Output", "Path", kNoCode));
    EXPECT_EQ(DefaultOutputFolder(folders), "/data/converted/") << "the marker means none";
}

TEST(AppFolders, StoringTheDefaultOutputFolderMakesTheConfigFolderAndIsReadBack)
{
    fixtures::TempDir root;
    TAppFolders folders;
    folders.DefaultFolder = root.File("fallback/");
    folders.ConfigFolder = root.File("config/kelvaro/");
    ASSERT_TRUE(StoreDefaultOutputFolder(folders, "/music/mine"));
    EXPECT_EQ(DefaultOutputFolder(folders), "/music/mine");
    EXPECT_EQ(ReadStoredPath(folders.PathIniFile(), "output"), "/music/mine");

    // A file where the configuration folder's parent should be: nothing can be stored.
    fixtures::MakeRawFile(root.File("blocker"), "");
    folders.ConfigFolder = root.File("blocker/kelvaro/");
    EXPECT_FALSE(StoreDefaultOutputFolder(folders, "/music/other"));
    EXPECT_EQ(DefaultOutputFolder(folders), root.File("fallback/"));
}

TEST(AppFolders, RelativeConfigHomeIsIgnored)
{
    ScopedEnv home("HOME", "/home/someone");
    ScopedEnv config("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(AppFoldersFromEnvironment().ConfigFolder, "/home/someone/.config/kelvaro/");
}

}  // namespace
}  // namespace kelvaro
