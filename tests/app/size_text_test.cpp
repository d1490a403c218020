#include "app/size_text.h"

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <fstream>

#include "app/main_window.h"
#include "fixtures/temp_dir.h"

namespace kelvaro::app {
namespace {

TEST(FormatSizeText, BothVariantsClassifyAlikeAndDifferOnlyBelowAKilobyte)
{
    const struct {
        int64_t size;
        const char* add;
        const char* convert;
    } cases[] = {
        {0, "0KB", "0 KB"},
        {500, "1KB", "1 KB"},
        {-1, "1KB", "1 KB"},
        {1023, "1KB", "1 KB"},
        {1024, "1KB", "1KB"},
        {5120, "5KB", "5KB"},
        {1048575, "1023KB", "1023KB"},
        {1048576, "2MB", "2MB"},
        {3145727, "3MB", "3MB"},
        {int64_t{5} << 40, "5242881MB", "5242881MB"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatSizeText(c.size, TSizeTextVariant::Add), c.add) << c.size;
        EXPECT_EQ(FormatSizeText(c.size, TSizeTextVariant::Convert), c.convert) << c.size;
    }
}

TEST(GetFileSize, ReportsBytesOrMinusOne)
{
    fixtures::TempDir dir;
    std::ofstream(dir.File("five")) << "12345";
    EXPECT_EQ(GetFileSize(dir.File("five")), 5);
    EXPECT_EQ(GetFileSize(dir.File("none")), -1);
    EXPECT_EQ(GetFileSize(dir.Path()), -1) << "a folder has no file size";
    EXPECT_EQ(GetFileSize(""), -1);
}

TEST(OpenDialogFilter, KeepsEveryPatternInTheDialogsForm)
{
    const QString filter = OpenDialogFilter();
    const QStringList entries = filter.split(";;");
    ASSERT_EQ(entries.size(), 2);
    EXPECT_TRUE(entries[0].startsWith("Audio Files (*.wav *.au *.aiff *.mp3 *.mp2 *.ogg"));
    EXPECT_TRUE(entries[0].endsWith("*.tta *.ac3 *.dts)"));
    EXPECT_EQ(entries[1], "All Files(*.*) (*)");
    const QStringList extensions = AudioFileExtensions();
    EXPECT_EQ(extensions.size(), 31) << "the command line's list";
    EXPECT_TRUE(extensions.contains("dat"));
    EXPECT_EQ(extensions.first(), "wav");
}

}  // namespace
}  // namespace kelvaro::app
