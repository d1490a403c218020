// What a desktop user expects of the window beyond its first design: the problems of a run in
// one view, keys, folders, the desktop's language and fonts, and files done with a warning.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QStyle>
#include <QTest>
#include <QThread>
#include <QTranslator>
#include <filesystem>
#include <fstream>

#include "app/file_list_view.h"
#include "app/problems_dialog.h"
#include "app/translations.h"
#include "support/test_support.h"
#include "window_harness.h"

namespace kelvaro::test {
namespace {

using namespace std::chrono_literals;
using app::fcPath;
using app::fcStats;

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

class WindowHabits : public testing::Test {
protected:
    void SetUp() override { LoadMediaLibrariesForTest(); }
    void TearDown() override
    {
        // What a test changed in the application stays with it.
        for (QTranslator* translator : qApp->findChildren<QTranslator*>()) {
            QCoreApplication::removeTranslator(translator);
            delete translator;
        }
        QApplication::setFont(QFont());
    }

    fixtures::TempDir root;
    FakeServices services;
    TAppFolders folders = TestFolders(root);
};

TEST_F(WindowHabits, TheProblemsOfARunAreListedOnceEachAndCanBeCopied)
{
    const std::string garbage =
        fixtures::MakeRawFile(root.File("garbage.mp3"), std::string(3000, 'z'));
    const std::string missing = root.File("gone.wav");
    const std::string fine = MakeTone(root, "fine.wav", 0.3);
    Window window(services, folders);
    window.Add(services, {Q(garbage), Q(missing), Q(fine)});
    QPushButton* problems = window.Button("ProblemsButton");
    EXPECT_TRUE(problems->isHidden());

    window.Button("spSkinButton9")->click();
    ASSERT_TRUE(WaitUntil([&] { return window.Idle(); }));
    EXPECT_EQ(window.List()->topLevelItem(1)->toolTip(fcStats),
              Q(missing + ": no such file or directory"));
    ASSERT_FALSE(problems->isHidden());
    EXPECT_EQ(problems->text(), "&Problems (2)");

    problems->click();
    app::TProblemsDialog* view = window.form->ProblemsView();
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->isVisible());
    EXPECT_EQ(view->windowTitle(), "Problems");
    for (const QPushButton* button : view->findChildren<QPushButton*>())
        EXPECT_FALSE(button->toolTip().isEmpty()) << qPrintable(button->text());
    // The file has a column of its own: reasons do not say it again.
    ASSERT_EQ(view->List()->topLevelItemCount(), 2);
    const QString garbageReason = view->List()->topLevelItem(0)->text(1);
    EXPECT_FALSE(garbageReason.isEmpty());
    EXPECT_FALSE(garbageReason.contains(Q(garbage)));
    EXPECT_EQ(view->Text(), Q(garbage) + '\t' + garbageReason + '\n' + Q(missing) +
                                "\tno such file or directory\n");
    view->List()->topLevelItem(1)->setSelected(true);
    EXPECT_EQ(view->Text(), Q(missing + "\tno such file or directory\n")) << "the selection only";

    // What the status line and the view said was about rows that are gone.
    window.Button("spSkinButton3")->click();
    EXPECT_TRUE(problems->isHidden());
    EXPECT_TRUE(window.Tips()->text().isEmpty());
    EXPECT_TRUE(window.Tips()->toolTip().isEmpty());
    EXPECT_EQ(view->List()->topLevelItemCount(), 0);
}

TEST_F(WindowHabits, KeysFoldersAndTheOutputFolderWorkAsOnAnyDesktop)
{
    std::filesystem::create_directories(root.File("album/cd2"));
    fixtures::MakeRawFile(root.File("album/01.mp3"), "x");
    fixtures::MakeRawFile(root.File("album/cd2/02.flac"), "x");
    fixtures::MakeRawFile(root.File("album/notes.txt"), "x");
    fixtures::MakeRawFile(root.File("album/cover.jpg"), "x");
    Window window(services, folders);
    window.form->show();
    QApplication::setActiveWindow(window.form.get());
    EXPECT_EQ(window.List()->topLevelItemCount(), 0);
    EXPECT_EQ(static_cast<app::TFileListView*>(window.List())->EmptyHint(),
              "Drop audio files here, or press Add");

    // Add Folder: the audio files beneath it, and what was passed over.
    services.nextFolder = Q(root.File("album"));
    window.Button("AddFolderButton")->click();
    EXPECT_EQ(window.Column(fcPath),
              (QStringList{Q(root.File("album/01.mp3")), Q(root.File("album/cd2/02.flac"))}));
    EXPECT_EQ(window.Tips()->text(),
              "      2 files added, 2 skipped: not a kind of file Kelvaro reads (.jpg, .txt)");
    services.nextFolder = Q(root.File("album"));
    window.Button("AddFolderButton")->click();
    EXPECT_EQ(services.lastBrowseStart, Q(root.File("album/")))
        << "the picker starts where the last folder came from";

    QTest::keyClick(window.form.get(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(window.List()->selectedItems().size(), 4);
    window.List()->clearSelection();
    window.List()->topLevelItem(0)->setSelected(true);
    QTest::keyClick(window.form.get(), Qt::Key_Delete);
    EXPECT_EQ(window.List()->topLevelItemCount(), 3);
    services.nextFiles = {Q(root.File("album/01.mp3"))};
    QTest::keyClick(window.form.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(services.openDialogCalls, 1);
    EXPECT_EQ(window.List()->topLevelItemCount(), 4);

    // The settings: "~" is the home folder, Browse starts at the folder in the edit, saving
    // says so, and the files converted at once are kept for the next start.
    app::TFset& settings = *window.settings;
    auto* edit = settings.findChild<QLineEdit*>("spSkinEdit1");
    edit->setText("~/Music");
    settings.findChild<QPushButton*>("spSkinButton3")->click();
    EXPECT_EQ(services.lastBrowseStart, QDir::homePath() + "/Music");
    settings.findChild<QPushButton*>("spSkinButton4")->click();
    EXPECT_FALSE(settings.findChild<QLabel*>("SavedLabel")->text().isEmpty());
    settings.show();
    settings.findChild<QSpinBox*>("FilesAtOnceBox")->setValue(2);
    settings.findChild<QPushButton*>("spSkinButton1")->click();
    EXPECT_EQ(window.form->OutputFolder(), QDir::homePath() + "/Music");
    EXPECT_TRUE(window.Button("OutputFolderButton")->toolTip().contains(QDir::homePath()));
    if (QThread::idealThreadCount() >= 2) {
        EXPECT_EQ(window.form->FilesAtOnce(), 2);
    }
    const int filesAtOnce = window.form->FilesAtOnce();
    window.form->close();
    Window again(services, folders);
    EXPECT_EQ(again.form->FilesAtOnce(), filesAtOnce);
}

TEST_F(WindowHabits, AFileDoneWithAWarningSaysSoOnItsRowAndInTheStatusLine)
{
    // An MP3 with a stretch of garbage in its middle: converted, but not all of it.
    fixtures::AudioSpec audioSpec;
    audioSpec.seconds = 3.0;
    const std::string damaged = fixtures::MakeMp3(root.File("damaged.mp3"), audioSpec);
    {
        std::fstream file(damaged, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(static_cast<std::streamoff>(std::filesystem::file_size(damaged) / 2));
        file << std::string(3000, '\xff');
    }
    Window window(services, folders);
    window.Combo()->setCurrentIndex(1);
    window.Add(services, {Q(damaged)});
    window.Button("spSkinButton9")->click();
    ASSERT_TRUE(WaitUntil([&] { return window.Idle(); }));
    EXPECT_EQ(window.Column(fcStats), QStringList{"done, warning"});
    const QString warning = window.List()->topLevelItem(0)->toolTip(fcStats);
    EXPECT_TRUE(warning.endsWith(" decoding errors")) << warning.toStdString();
    EXPECT_EQ(window.Tips()->text(), "   Done - 1 file done with a warning");
    ASSERT_EQ(window.form->RunProblems().size(), 1u);
    EXPECT_EQ(window.form->RunProblems()[0].second, "warning: " + warning);
    EXPECT_EQ(services.opened.size(), 1) << "it was converted";
}

TEST_F(WindowHabits, SpeaksTheDesktopsLanguage)
{
    EXPECT_EQ(app::InstallTranslations(*qApp, QLocale(QLocale::French)), "en")
        << "no French: English";
    EXPECT_EQ(app::InstallTranslations(*qApp, QLocale(QLocale::German, QLocale::Germany)), "de");
    Window window(services, folders);
    EXPECT_EQ(window.Button("spSkinButton1")->text(), "&Hinzufügen");
    EXPECT_EQ(window.Button("spSkinButton9")->text(), "&Konvertieren");
    EXPECT_EQ(window.settings->windowTitle(), " Einstellungen");
    EXPECT_EQ(window.form->windowTitle(), " Kelvaro V2.0");
    EXPECT_EQ(static_cast<app::TFileListView*>(window.List())->EmptyHint(),
              "Audiodateien hierher ziehen oder auf Hinzufügen klicken");
}

TEST_F(WindowHabits, NoTextIsCutAtLargerFonts)
{
    for (const int points : {11, 13}) {
        SCOPED_TRACE(std::to_string(points) + " pt");
        QFont font = QApplication::font();
        font.setPointSize(points);
        QApplication::setFont(font);
        Window window(services, folders);
        window.form->show();
        window.settings->show();
        QCoreApplication::processEvents();
        EXPECT_GE(window.form->width(), 610);
        for (QWidget* top : {static_cast<QWidget*>(window.form.get()),
                             static_cast<QWidget*>(window.settings)}) {
            for (QPushButton* button : top->findChildren<QPushButton*>()) {
                if (button->window() != top || !button->isVisibleTo(top) ||
                    button->text().isEmpty())
                    continue;
                const QString text = QString(button->text()).remove('&');
                const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin);
                EXPECT_LE(button->fontMetrics().horizontalAdvance(text) + 2 * margin,
                          button->width())
                    << text.toStdString();
                EXPECT_TRUE(top->rect().contains(button->geometry().translated(
                    button->parentWidget()->mapTo(top, QPoint()))))
                    << text.toStdString() << " lies outside its window";
            }
        }
        const auto* label = window.settings->findChild<QLabel*>("spSkinStdLabel1");
        EXPECT_GE(label->height(), label->heightForWidth(label->width()));
        window.settings->hide();
    }
}

}  // namespace
}  // namespace kelvaro::test
