#include "converter/path_ini.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fixtures/temp_dir.h"

namespace kelvaro {
namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream(path) << text;
}

class IniFileTest : public testing::Test {
protected:
    fixtures::TempDir dir;
    std::string file = dir.File("Path.ini");
    TIniFile ini{file};
};

TEST_F(IniFileTest, NamesCompareWithoutRegardToCaseAndTheFirstSectionCounts)
{
    WriteFile(file,
              "; comment=not a key\n"
              "[Other]\nPath=/other\n"
              "  [ OUTPUT ]  \r\n"
              "PATH = /music/out \r\n"
              "Quoted=\"/with blanks/ \"\n"
              "[output]\nPath=/second\n");
    EXPECT_EQ(ini.ReadString("OutPut", "Path", "NoCode"), "/music/out");
    EXPECT_EQ(ini.ReadString("Output", "path", "NoCode"), "/music/out");
    EXPECT_EQ(ini.ReadString("Output", "Quoted", ""), "/with blanks/ ");
    EXPECT_EQ(ini.ReadString("other", "Path", ""), "/other");
    EXPECT_EQ(ini.ReadString("Output", "Missing", "fallback"), "fallback");
    EXPECT_EQ(ini.ReadString("Missing", "Path", "fallback"), "fallback");
    EXPECT_EQ(ini.ReadString("comment", "comment", "none"), "none");
}

TEST_F(IniFileTest, MissingOrUnreadableFileGivesTheFallback)
{
    EXPECT_EQ(ini.ReadString("Output", "Path", "NoCode"), "NoCode");
    std::filesystem::create_directory(file);  // a folder cannot be read as a file
    EXPECT_EQ(ReadStoredPath(file, "Output"), kNoCode);
}

TEST_F(IniFileTest, WritesCreateTheFileAndReplaceOnlyTheirOwnLine)
{
    ASSERT_TRUE(ini.WriteString("Output", "Path", "/first"));
    EXPECT_EQ(ReadFile(file), "[Output]\nPath=/first\n");

    WriteFile(file, "; mine\n[OUTPUT]\npath=/old\nOther=1\n\n[Next]\nPath=/next\n");
    ASSERT_TRUE(ini.WriteString("Output", "Path", "/new dir/"));
    ASSERT_TRUE(ini.WriteString("output", "Added", "2"));
    ASSERT_TRUE(ini.WriteString("Third", "Key", ""));
    EXPECT_EQ(ReadFile(file),
              "; mine\n[OUTPUT]\nPath=/new dir/\nOther=1\nAdded=2\n\n[Next]\nPath=/next\n\n"
              "[Third]\nKey=\n");
    EXPECT_EQ(ReadStoredPath(file, "OutPut"), "/new dir/");
    EXPECT_EQ(ini.ReadString("Third", "Key", "x"), "");
}

TEST_F(IniFileTest, RefusedWritesLeaveTheFileAsItWas)
{
    WriteFile(file, "[Output]\nPath=/kept\n");
    // A line break would smuggle another key into the file.
    EXPECT_FALSE(ini.WriteString("Output", "Path", "/a\nPath=/b"));
    EXPECT_FALSE(ini.WriteString("Out\nput", "Path", "/a"));
    EXPECT_FALSE(ini.WriteString("", "Path", "/a"));
    EXPECT_EQ(ReadFile(file), "[Output]\nPath=/kept\n");

    TIniFile nowhere(dir.File("missing/Path.ini"));
    EXPECT_FALSE(nowhere.WriteString("Output", "Path", "/a"));
    EXPECT_FALSE(std::filesystem::exists(dir.File("missing")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1)
        << "no temporary file left behind";
}

}  // namespace
}  // namespace kelvaro
