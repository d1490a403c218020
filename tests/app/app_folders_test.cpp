#include "app/app_folders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace kelvaro::app {
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

TEST(AppFolders, RelativeConfigHomeIsIgnored)
{
    ScopedEnv home("HOME", "/home/someone");
    ScopedEnv config("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(AppFoldersFromEnvironment().ConfigFolder, "/home/someone/.config/kelvaro/");
}

}  // namespace
}  // namespace kelvaro::app
