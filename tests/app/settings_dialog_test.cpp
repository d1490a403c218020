#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLineEdit>
#include <QTabWidget>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "converter/path_ini.h"
#include "window_harness.h"

namespace kelvaro::test {
namespace {

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class SettingsDialogTest : public testing::Test {
protected:
    QLineEdit* Edit(const Window& window) const
    {
        return window.settings->findChild<QLineEdit*>("spSkinEdit1");
    }
    QPushButton* Button(const Window& window, const char* name) const
    {
        return window.settings->findChild<QPushButton*>(name);
    }

    fixtures::TempDir root;
    FakeServices services;
    TAppFolders folders = TestFolders(root);
};

TEST_F(SettingsDialogTest, HasItsControlsInPlace)
{
    Window window(services, folders);
    app::TFset& dialog = *window.settings;
    EXPECT_EQ(dialog.windowTitle(), " Settings");
    EXPECT_EQ(dialog.size(), QSize(321, 247));
    EXPECT_EQ(dialog.minimumSize(), QSize(321, 247));
    EXPECT_FALSE(dialog.isVisible());
    // Shown without its modal loop, so that its layout places everything.
    dialog.show();
    QCoreApplication::processEvents();
    auto* pages = dialog.findChild<QTabWidget*>();
    ASSERT_NE(pages, nullptr);
    EXPECT_EQ(pages->geometry(), QRect(16, 16, 289, 177));
    ASSERT_EQ(pages->count(), 2);
    EXPECT_EQ(pages->tabText(0), "Output Path");
    EXPECT_EQ(pages->tabText(1), "Conversion");
    const QLabel* label = dialog.findChild<QLabel*>("spSkinStdLabel1");
    EXPECT_EQ(label->text(), "Please click button to change path");
    EXPECT_EQ(label->pos(), QPoint(16, 24));
    EXPECT_LT(label->geometry().right(), 208) << "the text runs under Browse";
    EXPECT_GE(label->height(), label->heightForWidth(label->width())) << "the text is cut";
    EXPECT_EQ(label->font(), dialog.font()) << "nor does it shrink its font";
    const struct {
        const char* name;
        const char* text;
        QRect geometry;
    } buttons[] = {
        {"spSkinButton1", "OK", {144, 208, 75, 25}},
        {"spSkinButton2", "Cancel", {232, 208, 75, 25}},
    };
    for (const auto& expected : buttons) {
        QPushButton* button = Button(window, expected.name);
        ASSERT_NE(button, nullptr) << expected.name;
        EXPECT_EQ(button->text(), expected.text);
        EXPECT_EQ(button->geometry(), expected.geometry);
    }
    QPushButton* browse = Button(window, "spSkinButton3");
    EXPECT_EQ(browse->text(), "&Browse");
    EXPECT_EQ(browse->geometry().topLeft(), QPoint(208, 24));
    EXPECT_EQ(browse->width(), 59);
    EXPECT_GE(browse->height(), 21) << "as high as the style makes its buttons";
    // Below the label, however many lines the desktop's font gives it.
    EXPECT_EQ(Edit(window)->x(), 16);
    EXPECT_EQ(Edit(window)->size(), QSize(257, 20));
    EXPECT_GT(Edit(window)->y(), label->geometry().bottom());
    QPushButton* save = Button(window, "spSkinButton4");
    EXPECT_EQ(save->text(), "&Save as default");
    EXPECT_EQ(save->x(), 16);
    EXPECT_EQ(save->size(), QSize(113, 25));
    EXPECT_GT(save->y(), Edit(window)->geometry().bottom());
    dialog.hide();
}

TEST_F(SettingsDialogTest, FirstStartUsesTheDefaultFolder)
{
    Window window(services, folders);
    EXPECT_EQ(window.form->OutputFolder(), Q(folders.DefaultFolder));
    EXPECT_TRUE(window.form->OutputFolder().endsWith('/'));
    EXPECT_EQ(window.settings->StartFolder(), Q(folders.DefaultFolder));
    EXPECT_EQ(Edit(window)->text(), Q(folders.DefaultFolder));
    EXPECT_FALSE(std::filesystem::exists(folders.ConfigFolder)) << "reading creates nothing";
}

TEST_F(SettingsDialogTest, SavedDefaultIsUsedOnTheNextStartAsTyped)
{
    {
        Window window(services, folders);
        Edit(window)->setText("/srv/Music");
        Button(window, "spSkinButton4")->click();
        EXPECT_TRUE(services.errors.isEmpty());
        // Saving does not change the folder in use.
        EXPECT_EQ(window.form->OutputFolder(), Q(folders.DefaultFolder));
    }
    EXPECT_EQ(ReadFile(folders.PathIniFile()), "[Output]\nPath=/srv/Music\n");

    Window window(services, folders);
    EXPECT_EQ(window.form->OutputFolder(), "/srv/Music");
    EXPECT_EQ(Edit(window)->text(), "/srv/Music");
}

TEST_F(SettingsDialogTest, ReadsTheSectionWhateverItsLetterCaseAndIgnoresTheMarker)
{
    std::filesystem::create_directories(folders.ConfigFolder);
    std::ofstream(folders.PathIniFile()) << "; kept by hand\n[OUTPUT]\npath = /data/out \n";
    {
        Window window(services, folders);
        EXPECT_EQ(window.form->OutputFolder(), "/data/out");
        EXPECT_EQ(Edit(window)->text(), "/data/out");
    }
    std::ofstream(folders.PathIniFile()) << "[Output]\nPath=NoCode\n";
    Window window(services, folders);
    EXPECT_EQ(window.form->OutputFolder(), Q(folders.DefaultFolder));
    EXPECT_EQ(Edit(window)->text(), Q(folders.DefaultFolder));
}

TEST_F(SettingsDialogTest, SaveWithAnEmptyEditWritesNothing)
{
    std::filesystem::create_directories(folders.ConfigFolder);
    std::ofstream(folders.PathIniFile()) << "[Output]\nPath=/keep\n";
    Window window(services, folders);
    Edit(window)->clear();
    Button(window, "spSkinButton4")->click();
    EXPECT_EQ(ReadFile(folders.PathIniFile()), "[Output]\nPath=/keep\n");
    EXPECT_TRUE(services.errors.isEmpty());
}

TEST_F(SettingsDialogTest, UnwritableSettingsFileIsReportedAndTheDialogStaysOpen)
{
    // A file where the configuration folder's parent should be: no folder can be made there.
    fixtures::MakeRawFile(root.File("blocker"), "");
    folders.ConfigFolder = root.File("blocker/kelvaro/");
    Window window(services, folders);
    window.settings->show();
    Edit(window)->setText("/srv/Music");
    Button(window, "spSkinButton4")->click();
    EXPECT_EQ(services.errors,
              QStringList{"Unable to write to " + Q(root.File("blocker/kelvaro/Path.ini"))});
    EXPECT_TRUE(window.settings->isVisible());
}

TEST_F(SettingsDialogTest, OkSetsTheFolderAsTypedAndCancelKeepsTheTypedText)
{
    Window window(services, folders);
    window.settings->show();
    Edit(window)->setText("/tmp/typed");
    Button(window, "spSkinButton2")->click();
    EXPECT_FALSE(window.settings->isVisible());
    EXPECT_EQ(window.form->OutputFolder(), Q(folders.DefaultFolder));

    window.settings->show();
    EXPECT_EQ(Edit(window)->text(), "/tmp/typed");
    Button(window, "spSkinButton1")->click();
    EXPECT_FALSE(window.settings->isVisible());
    EXPECT_EQ(window.form->OutputFolder(), "/tmp/typed") << "no separator added by OK";

    window.settings->show();
    Edit(window)->clear();
    Button(window, "spSkinButton1")->click();
    EXPECT_TRUE(window.form->OutputFolder().isEmpty());
}

TEST_F(SettingsDialogTest, BrowseFillsTheEditUnlessCancelled)
{
    Window window(services, folders);
    window.settings->show();
    Edit(window)->setText("/before");
    Button(window, "spSkinButton3")->click();
    EXPECT_EQ(Edit(window)->text(), "/before");
    services.nextFolder = "/home/someone/Music";
    Button(window, "spSkinButton3")->click();
    EXPECT_EQ(Edit(window)->text(), "/home/someone/Music");
    EXPECT_EQ(window.form->OutputFolder(), Q(folders.DefaultFolder));
}

TEST_F(SettingsDialogTest, SettingsButtonShowsTheDialogModally)
{
    Window window(services, folders);
    window.form->show();
    bool wasModal = false;
    QTimer::singleShot(0, window.settings, [&] {
        wasModal = window.settings->isVisible() && window.settings->isModal();
        Edit(window)->setText("/chosen");
        Button(window, "spSkinButton1")->click();
    });
    window.Button("spSkinButton4")->click();
    EXPECT_TRUE(wasModal);
    EXPECT_EQ(window.form->OutputFolder(), "/chosen");
}

}  // namespace
}  // namespace kelvaro::test
