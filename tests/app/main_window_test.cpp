#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QScreen>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <thread>

#include "converter/path_ini.h"
#include "support/test_support.h"
#include "window_harness.h"

namespace kelvaro::test {
namespace {

using namespace std::chrono_literals;
using app::fcName;
using app::fcPath;
using app::fcSize;
using app::fcStats;

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override { LoadMediaLibrariesForTest(); }

    // Converts the listed files and waits for the end of the run.
    void ConvertAndWait(Window& window)
    {
        window.Button("spSkinButton9")->click();
        ASSERT_TRUE(WaitUntil([&] { return window.Idle(); }))
            << window.Tips()->text().toStdString();
    }

    fixtures::TempDir root;
    FakeServices services;
    TAppFolders folders = TestFolders(root);
};

TEST_F(MainWindowTest, StartsIdleWithItsControlsInPlace)
{
    Window window(services, folders);
    app::TForm1& form = *window.form;
    EXPECT_EQ(form.windowTitle(), " Kelvaro V2.0");
    // Set as the application's display name, the title would end every dialog's title.
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QGuiApplication::applicationName());
    EXPECT_EQ(form.size(), QSize(610, 413));
    EXPECT_EQ(form.minimumSize(), QSize(610, 413)) << "the least it takes at the usual font";
    EXPECT_NE(form.maximumSize(), form.minimumSize()) << "it can be made larger";

    // At the usual font the controls are where they always were (Help 2 to the left, so
    // that it ends with the list).
    const struct {
        const char* name;
        const char* text;
        QRect geometry;
        bool enabled;
    } buttons[] = {
        {"spSkinButton1", "&Add", {24, 24, 75, 25}, true},
        {"spSkinButton2", "&Remove", {120, 24, 75, 25}, true},
        {"spSkinButton3", "C&lean", {216, 24, 75, 25}, true},
        {"spSkinButton4", "&Settings", {312, 24, 75, 25}, true},
        {"spSkinButton5", "&Help", {518, 24, 75, 25}, true},
        {"spSkinButton8", "S&top", {448, 352, 65, 25}, false},
        {"spSkinButton9", "&Convert", {528, 352, 65, 25}, true},
    };
    for (const auto& expected : buttons) {
        QPushButton* button = window.Button(expected.name);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), expected.text) << expected.name;
        EXPECT_EQ(button->geometry(), expected.geometry) << expected.name;
        EXPECT_EQ(button->isEnabled(), expected.enabled) << expected.name;
        EXPECT_FALSE(button->toolTip().isEmpty()) << expected.name;
    }

    QTreeWidget* list = window.List();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->parentWidget()->geometry(), QRect(24, 64, 569, 264));
    EXPECT_EQ(list->topLevelItemCount(), 0);
    ASSERT_EQ(list->columnCount(), 4);
    const QStringList headers{"Name", "Size", "Stats", "Path"};
    const int widths[] = {150, 100, 100, 180};
    for (int column = 0; column < 4; ++column) {
        EXPECT_EQ(list->headerItem()->text(column), headers[column]);
        EXPECT_EQ(list->columnWidth(column), widths[column]);
    }
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(list->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(list->textElideMode(), Qt::ElideMiddle) << "extensions stay in view";

    QProgressBar* gauge = window.Gauge();
    EXPECT_EQ(gauge->geometry(), QRect(24, 328, 569, 6));
    EXPECT_EQ(gauge->minimum(), 0);
    EXPECT_EQ(gauge->maximum(), 100);
    EXPECT_EQ(gauge->value(), 100);
    EXPECT_FALSE(gauge->isTextVisible());

    QComboBox* combo = window.Combo();
    EXPECT_EQ(combo->geometry().topLeft(), QPoint(24, 352));
    EXPECT_EQ(combo->width(), 193);
    ASSERT_EQ(combo->count(), 8);
    EXPECT_EQ(combo->itemText(0), "  WMA  (*.wma)");
    EXPECT_EQ(combo->itemText(1), "  WAV  (*.wav)");
    EXPECT_EQ(combo->itemText(5), "  Ogg Vorbis  (*.ogg)");
    EXPECT_EQ(combo->itemText(7), "  ALAC  (*.m4a)");
    EXPECT_EQ(combo->currentIndex(), 0);

    EXPECT_EQ(window.Tips()->geometry(), QRect(0, 392, 610, 21));
    EXPECT_TRUE(window.Tips()->text().isEmpty());
    EXPECT_EQ(form.OutputFolder(), Q(folders.DefaultFolder));
    EXPECT_TRUE(window.Button("OutputFolderButton")->toolTip().contains(Q(folders.DefaultFolder)))
        << "where the files will go is in view";
    EXPECT_TRUE(form.LastOpenFolder().isEmpty());
}

TEST_F(MainWindowTest, AddListsPickedFilesWithTheirSizes)
{
    const QStringList files{
        Q(fixtures::MakeRawFile(root.File("empty.mp3"), "")),
        Q(fixtures::MakeRawFile(root.File("small.mp3"), std::string(500, 'a'))),
        Q(fixtures::MakeRawFile(root.File("kilo.mp3"), std::string(1024, 'a'))),
        Q(fixtures::MakeRawFile(root.File("under.mp3"), std::string(1048575, 'a'))),
        Q(fixtures::MakeRawFile(root.File("mega.mp3"), std::string(1048576, 'a'))),
        Q(root.File("missing.mp3")),
    };
    Window window(services, folders);

    services.nextFiles.clear();
    window.Button("spSkinButton1")->click();
    EXPECT_EQ(window.List()->topLevelItemCount(), 0) << "a cancelled dialog adds nothing";
    EXPECT_TRUE(window.form->LastOpenFolder().isEmpty());

    window.Add(services, files);
    EXPECT_EQ(window.Column(fcName), (QStringList{"empty.mp3", "small.mp3", "kilo.mp3", "under.mp3",
                                                  "mega.mp3", "missing.mp3"}));
    EXPECT_EQ(window.Column(fcSize), (QStringList{"0KB", "1KB", "1KB", "1023KB", "2MB", "1KB"}));
    EXPECT_EQ(window.Column(fcStats), QStringList(6, QString()));
    EXPECT_EQ(window.Column(fcPath), files);
    EXPECT_EQ(window.Tips()->text(), "      6 files added");
    EXPECT_EQ(window.form->LastOpenFolder(), Q(root.Path() + "/"));
    EXPECT_TRUE(services.lastFilter.startsWith("Audio Files (*.wav *.au *.aiff *.mp3"));
    EXPECT_TRUE(services.lastFilter.endsWith(";;All Files(*.*) (*)"));
    EXPECT_EQ(services.lastSelectedFilter, services.lastFilter.section(";;", 0, 0));

    // The dialog opens where the last files came from; a file picked again gets a second row.
    window.Add(services, {files[1]});
    EXPECT_EQ(services.lastInitialFolder, Q(root.Path() + "/"));
    EXPECT_EQ(window.List()->topLevelItemCount(), 7);

    // Remove takes the selected rows, Clean all of them; neither without rows to act on.
    window.Button("spSkinButton2")->click();
    EXPECT_EQ(window.List()->topLevelItemCount(), 7) << "nothing selected";
    window.List()->topLevelItem(0)->setSelected(true);
    window.List()->topLevelItem(6)->setSelected(true);
    window.Button("spSkinButton2")->click();
    EXPECT_EQ(window.Column(fcName),
              (QStringList{"small.mp3", "kilo.mp3", "under.mp3", "mega.mp3", "missing.mp3"}));
    window.Button("spSkinButton3")->click();
    EXPECT_EQ(window.List()->topLevelItemCount(), 0);
}

TEST_F(MainWindowTest, DroppedFilesAndFoldersAddTheirAudioFiles)
{
    std::filesystem::create_directories(root.File("album/disc2"));
    const std::string loose = fixtures::MakeRawFile(root.File("loose.ogg"), "x");
    fixtures::MakeRawFile(root.File("album/02 b.MP3"), "x");
    fixtures::MakeRawFile(root.File("album/01 a.flac"), "x");
    fixtures::MakeRawFile(root.File("album/cover.jpg"), "x");
    fixtures::MakeRawFile(root.File("album/disc2/03 c.wav"), "x");
    Window window(services, folders);

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(Q(loose)), QUrl::fromLocalFile(Q(root.File("album")))});
    // As the file manager does it: the window must take the drag before it gets the drop.
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.form.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.form.get(), &drop);

    EXPECT_EQ(window.Column(fcName),
              (QStringList{"loose.ogg", "01 a.flac", "02 b.MP3", "03 c.wav"}));
    EXPECT_EQ(window.Column(fcSize), QStringList(4, "1KB"));
    // What was passed over is told, not silently dropped.
    EXPECT_EQ(window.Tips()->text(),
              "      4 files added, 1 skipped: not a kind of file Kelvaro reads (.jpg)");
}

TEST_F(MainWindowTest, ConvertsToWmaAndOpensTheOutputFolderOnce)
{
    fixtures::AudioSpec audioSpec;
    audioSpec.seconds = 1.5;
    const std::string wav = fixtures::MakeWav(root.File("tone.wav"), audioSpec);
    const std::string mp3 = fixtures::MakeMp3(root.File("song.mp3"), audioSpec);
    fixtures::VideoSpec video;
    video.seconds = audioSpec.seconds;
    // A video disc's file: read as an MPEG program stream whatever its letter case.
    const std::string dat = fixtures::MakeMpegPs(root.File("AVSEQ01.DAT"), video, audioSpec);
    Window window(services, folders);
    window.Add(services, {Q(wav), Q(mp3), Q(dat)});
    // As if the run were long: the window is not the active one, so the desktop is told.
    window.form->SetNotifyAfter(0ms);

    window.Button("spSkinButton9")->click();
    EXPECT_EQ(window.Tips()->text(), "    Please Wait......");
    EXPECT_EQ(window.Column(fcStats), (QStringList{"-", "-", "-"}));
    EXPECT_EQ(window.Gauge()->value(), 0);
    EXPECT_FALSE(window.Button("spSkinButton1")->isEnabled());
    EXPECT_FALSE(window.Button("spSkinButton4")->isEnabled());
    EXPECT_TRUE(window.Button("spSkinButton8")->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return window.Idle(); }));

    EXPECT_EQ(window.Column(fcStats), (QStringList{"100%", "100%", "100%"}));
    EXPECT_EQ(window.Tips()->text(), "   Done ");
    EXPECT_EQ(window.Gauge()->value(), window.Gauge()->maximum());
    EXPECT_EQ(window.form->OutputFolder(), Q(folders.DefaultFolder));
    EXPECT_EQ(services.opened, QStringList{Q(folders.DefaultFolder)});
    EXPECT_TRUE(services.errors.isEmpty()) << services.errors.join('\n').toStdString();
    EXPECT_TRUE(window.form->RunProblems().empty());
    EXPECT_EQ(services.notifications,
              QStringList{"Kelvaro: conversion finished: 3 files converted"});

    for (const char* name : {"tone.wma", "song.wma", "AVSEQ01.wma"}) {
        const std::string output = folders.DefaultFolder + name;
        const fixtures::MediaInfo info = fixtures::Probe(output);
        ASSERT_EQ(info.streams.size(), 1u) << name;
        EXPECT_EQ(info.streams[0].codec, "wmav2");
        EXPECT_EQ(info.streams[0].sampleRate, 44100);
        EXPECT_EQ(info.streams[0].channels, 2);
        const fixtures::DecodedAudio audio = fixtures::DecodeAudio(output);
        EXPECT_NEAR(static_cast<double>(audio.Frames()) / audio.sampleRate, 1.5, 0.1) << name;
    }
}

TEST_F(MainWindowTest, ConvertsToWavSampleForSampleIntoANewFolder)
{
    fixtures::AudioSpec audioSpec;
    audioSpec.seconds = 1.0;
    audioSpec.channels = 1;
    audioSpec.sampleRate = 22050;
    const std::string flac = fixtures::MakeFlac(root.File("voice.flac"), audioSpec);
    Window window(services, folders);
    window.Combo()->setCurrentIndex(1);
    // No trailing separator: Convert adds it before naming the output.
    window.form->SetOutputFolder(Q(root.File("wav out")));
    window.Add(services, {Q(flac)});

    ConvertAndWait(window);

    EXPECT_EQ(window.Column(fcStats), QStringList{"100%"});
    EXPECT_EQ(window.form->OutputFolder(), Q(root.File("wav out/")));
    EXPECT_EQ(services.opened, QStringList{Q(root.File("wav out/"))});
    const std::string output = root.File("wav out/voice.wav");
    const fixtures::MediaInfo info = fixtures::Probe(output);
    ASSERT_EQ(info.streams.size(), 1u);
    EXPECT_EQ(info.streams[0].codec, "pcm_s16le");
    const fixtures::DecodedAudio audio = fixtures::DecodeAudio(output);
    EXPECT_EQ(audio.sampleRate, 22050);
    EXPECT_EQ(audio.channels, 1);
    EXPECT_EQ(audio.samples, fixtures::GenerateSamples(audioSpec));
}

TEST_F(MainWindowTest, AnUnreadableFileKeepsItsRowMarkedWithItsReason)
{
    const std::string first = MakeTone(root, "first.wav", 1.0);
    const std::string garbage =
        fixtures::MakeRawFile(root.File("garbage.mp3"), std::string(3000, 'z'));
    const std::string third = MakeTone(root, "third.wav", 1.0);
    Window window(services, folders);
    UsePacedJobs(*window.form, 10ms);
    window.Add(services, {Q(first), Q(garbage), Q(third)});

    window.Button("spSkinButton9")->click();
    // Every file has its job at once; each opens its file only when its turn comes.
    EXPECT_EQ(window.Column(fcName), (QStringList{"first.wav", "garbage.mp3", "third.wav"}));
    EXPECT_EQ(window.Column(fcStats), (QStringList{"-", "-", "-"}));
    EXPECT_EQ(window.Tips()->text(), "    Please Wait......");
    EXPECT_FALSE(window.Button("spSkinButton9")->isEnabled());
    EXPECT_TRUE(window.Button("spSkinButton8")->isEnabled());

    QStringList tips;
    ASSERT_TRUE(WaitUntil([&] {
        if (tips.isEmpty() || tips.back() != window.Tips()->text())
            tips << window.Tips()->text();
        return window.Idle();
    }));
    EXPECT_TRUE(std::any_of(tips.begin(), tips.end(), [](const QString& text) {
        return text.startsWith("   File: 3 of 3         Completed: ") &&
               text.endsWith("      third.wav");
    })) << tips.join('\n').toStdString();

    EXPECT_EQ(window.Column(fcStats), (QStringList{"100%", "refused", "100%"}));
    // The run went well for what it had, but must not read as if every file made it.
    EXPECT_TRUE(
        window.Tips()->text().startsWith("   Done - 1 file not converted (1 could not be opened"))
        << window.Tips()->text().toStdString();
    ASSERT_EQ(window.form->RunProblems().size(), 1u);
    EXPECT_EQ(window.form->RunProblems()[0].first, Q(garbage));
    EXPECT_EQ(window.form->RunProblems()[0].second, "not an audio file Kelvaro can read");
    EXPECT_EQ(window.List()->topLevelItem(1)->toolTip(fcStats),
              window.form->RunProblems()[0].second);
    EXPECT_EQ(window.Tips()->toolTip(), window.Tips()->text()) << "the whole status text";
    EXPECT_EQ(services.opened.size(), 1);
}

TEST_F(MainWindowTest, NothingConvertedEndsTheRunWithTheReasonsAndOpensNoFolder)
{
    const std::string garbage = fixtures::MakeRawFile(root.File("garbage.wav"), "not audio");
    Window window(services, folders);
    window.Add(services, {Q(garbage), Q(root.File("gone.mp3"))});

    ConvertAndWait(window);

    EXPECT_EQ(window.Column(fcStats), (QStringList{"refused", "refused"}))
        << "no row the user added goes";
    EXPECT_TRUE(
        window.Tips()->text().startsWith("   Done - 2 files not converted (2 could not be opened"))
        << window.Tips()->text().toStdString();
    ASSERT_EQ(window.form->RunProblems().size(), 2u);
    EXPECT_EQ(window.form->RunProblems()[1].second,
              Q(root.File("gone.mp3") + ": no such file or directory"));
    Pump(100ms);
    EXPECT_TRUE(services.opened.isEmpty());
}

TEST_F(MainWindowTest, AnOutputThatCannotBeCreatedFailsItsRowAndTheRunGoesOn)
{
    const std::string blocked = MakeTone(root, "blocked.wav", 0.5);
    const std::string fine = MakeTone(root, "fine.wav", 0.5);
    // A folder where the first output file should go: its output cannot be created.
    std::filesystem::create_directories(folders.DefaultFolder + "blocked.wma");
    Window window(services, folders);
    window.Add(services, {Q(blocked), Q(fine)});

    ConvertAndWait(window);
    EXPECT_TRUE(services.errors.isEmpty()) << "told on its row, not in a box";
    EXPECT_EQ(window.Column(fcStats), (QStringList{"refused", "100%"}));
    ASSERT_EQ(window.form->RunProblems().size(), 1u);
    EXPECT_EQ(window.form->RunProblems()[0].first, Q(blocked));
    EXPECT_EQ(window.form->RunProblems()[0].second,
              Q("Could not open '" + folders.DefaultFolder + "blocked.wma': Is a directory"));
    EXPECT_EQ(window.List()->topLevelItem(0)->toolTip(fcStats),
              window.form->RunProblems()[0].second);
    EXPECT_GT(fixtures::DecodeAudio(folders.DefaultFolder + "fine.wma").Frames(), 0u);
}

TEST_F(MainWindowTest, AnOutputOverAnotherListedFileIsRefusedAndThatFileIsKept)
{
    std::filesystem::create_directories(root.File("x"));
    std::filesystem::create_directories(folders.DefaultFolder);
    fixtures::AudioSpec audioSpec;
    audioSpec.seconds = 0.5;
    const std::string mp3 = fixtures::MakeMp3(root.File("x/a.mp3"), audioSpec);
    const std::string wav = fixtures::MakeWav(folders.DefaultFolder + "a.wav", audioSpec);
    const std::string before = ReadFile(wav);
    Window window(services, folders);
    window.Combo()->setCurrentIndex(1);
    window.Add(services, {Q(mp3), Q(wav)});

    window.Button("spSkinButton9")->click();
    EXPECT_EQ(window.Column(fcName), (QStringList{"a.mp3", "a.wav"}));
    EXPECT_EQ(window.Column(fcStats)[0], "refused") << "before any job";
    ASSERT_TRUE(WaitUntil([&] { return window.Idle(); }));

    EXPECT_TRUE(ReadFile(wav) == before) << "the input was written over";
    // The job left cannot write over its own input either.
    EXPECT_EQ(window.Column(fcStats), (QStringList{"refused", "refused"}));
    ASSERT_EQ(window.form->RunProblems().size(), 2u);
    EXPECT_EQ(window.form->RunProblems()[0].first, Q(mp3));
    EXPECT_EQ(window.form->RunProblems()[0].second, Q(wav + " would overwrite the input " + wav));
    EXPECT_EQ(window.form->RunProblems()[1].first, Q(wav));
    EXPECT_EQ(window.form->RunProblems()[1].second,
              Q("Output file is the same as input file: " + wav));
    EXPECT_EQ(window.Tips()->text(),
              "   Done - 2 files not converted (1 could not be opened, 1 would overwrite another "
              "file)");
}

TEST_F(MainWindowTest, AJobThatCannotEvenBeMadeFailsItsRowAndTheOthersConvert)
{
    const std::string first = MakeTone(root, "first.wav", 0.5);
    const std::string second = MakeTone(root, "second.wav", 0.5);
    Window window(services, folders);
    bool thrown = false;
    window.form->LumoAVC().SetJobFactory([&](std::mutex& codecLock) {
        // Not even a std::exception: nothing tells what went wrong.
        if (!std::exchange(thrown, true))
            throw 42;
        return std::make_unique<TFFmpegHlpr>(codecLock);
    });
    window.Add(services, {Q(first), Q(second)});

    ConvertAndWait(window);

    EXPECT_EQ(window.Column(fcStats), (QStringList{"failed", "100%"}));
    ASSERT_EQ(window.form->RunProblems().size(), 1u);
    EXPECT_EQ(window.form->RunProblems()[0].first, Q(first));
    EXPECT_EQ(window.form->RunProblems()[0].second, "unknown failure");
    EXPECT_TRUE(window.Tips()->text().startsWith("   Done - 1 file not converted (1 failed"))
        << window.Tips()->text().toStdString();
}

TEST_F(MainWindowTest, ConvertingHundredsOfRowsKeepsTheWindowAnswering)
{
    const std::string tone = MakeTone(root, "tone.wav", 0.05);
    QStringList files;
    for (int i = 0; i < 300; ++i) {
        const std::string link = root.File("in" + std::to_string(i) + ".wav");
        std::filesystem::create_symlink(tone, link);
        files << Q(link);
    }
    Window window(services, folders);
    window.form->show();
    window.Combo()->setCurrentIndex(1);
    window.Add(services, files);

    // Stop works while rows are still being given their jobs.
    window.Button("spSkinButton9")->click();
    window.Button("spSkinButton8")->click();
    EXPECT_TRUE(window.Idle());

    const auto since = [](std::chrono::steady_clock::time_point start) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
    };
    auto last = std::chrono::steady_clock::now();
    window.Button("spSkinButton9")->click();
    std::chrono::milliseconds longestGap = since(last);
    last = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitUntil([&] {
        longestGap = std::max(longestGap, since(last));
        last = std::chrono::steady_clock::now();
        return window.Idle();
    }));
    EXPECT_LT(longestGap.count(), 250) << "the event loop stood still";
    EXPECT_EQ(window.Column(fcStats), QStringList(300, QStringLiteral("100%")));
    QTreeWidget* list = window.List();
    EXPECT_TRUE(list->visualItemRect(list->topLevelItem(299)).intersects(list->viewport()->rect()))
        << "the row being converted is kept in view";
}

TEST_F(MainWindowTest, ConvertNeedsRowsAndAnOutputFolder)
{
    // Nothing runs, but the window says why rather than nothing.
    Window window(services, folders);
    window.Button("spSkinButton9")->click();
    EXPECT_TRUE(window.Idle());
    EXPECT_EQ(window.Tips()->text(), "    Add the files to convert first");

    window.Add(services, {Q(MakeTone(root, "a.wav", 0.2))});
    window.form->SetOutputFolder(QString());
    window.Button("spSkinButton9")->click();
    EXPECT_TRUE(window.Idle());
    EXPECT_EQ(window.Column(fcStats), QStringList{""});
    EXPECT_EQ(window.Tips()->text(), "    Choose an output folder in Settings first");

    // Only one level is created: a missing parent is an error and nothing runs.
    window.form->SetOutputFolder(Q(root.File("no/such/out")));
    window.Button("spSkinButton9")->click();
    ASSERT_EQ(services.errors.size(), 1);
    EXPECT_TRUE(services.errors[0].contains(Q(root.File("no/such/out"))));
    EXPECT_TRUE(window.Idle());
    EXPECT_EQ(window.Column(fcStats), QStringList{""});
    EXPECT_EQ(window.Gauge()->value(), 100);
}

TEST_F(MainWindowTest, NeitherStopNorAShortInputReplacesAnEarlierOutput)
{
    const std::string one = MakeTone(root, "one.wav", 3.0);
    const QStringList files{Q(one), Q(MakeTone(root, "two.wav", 3.0)),
                            Q(MakeTone(root, "three.wav", 3.0))};
    const std::string earlier = folders.DefaultFolder + "one.wav";
    const std::string partial = folders.DefaultFolder + "one.partial.wav";
    std::filesystem::create_directories(folders.DefaultFolder);
    fixtures::MakeRawFile(earlier, "earlier");
    Window window(services, folders);
    window.Combo()->setCurrentIndex(1);
    UsePacedJobs(*window.form, 10ms);
    window.Add(services, files);
    // Off by default: nothing of a stopped file is kept; asked for, it is kept as partial.
    for (const bool keep : {false, true}) {
        window.form->SetKeepPartialOutputs(keep);
        window.Button("spSkinButton9")->click();
        ASSERT_TRUE(WaitUntil([&] { return window.Column(fcStats)[0].endsWith('%'); }));
        const int percent = window.Column(fcStats)[0].chopped(1).toInt();
        EXPECT_LT(percent, 100);
        window.Button("spSkinButton8")->click();

        EXPECT_TRUE(window.Idle());
        Pump(200ms);
        // Its file is valid but shorter than its input: it must not read as done.
        EXPECT_EQ(window.Column(fcStats), (QStringList{"stopped", "-", "-"}));
        EXPECT_EQ(window.Tips()->text(), "    Done - 1 file not converted (1 stopped)");
        EXPECT_TRUE(window.form->RunProblems().empty()) << "stopped is not failed";
        EXPECT_TRUE(services.opened.isEmpty());
        EXPECT_EQ(std::filesystem::file_size(earlier), 7u) << "a partial file never replaces it";
        EXPECT_EQ(std::filesystem::exists(partial), keep);
        EXPECT_EQ(window.List()->topLevelItem(0)->toolTip(fcStats).endsWith(Q(partial)), keep);
    }
    const fixtures::DecodedAudio audio = fixtures::DecodeAudio(partial);
    const double seconds = static_cast<double>(audio.Frames()) / audio.sampleRate;
    EXPECT_GT(seconds, 0.0);
    EXPECT_LT(seconds, 3.0);

    // An input cut short while it is converted does not replace it either, and says so.
    window.form->SetKeepPartialOutputs(false);
    window.Button("spSkinButton9")->click();
    ASSERT_TRUE(WaitUntil([&] { return window.Column(fcStats)[0].endsWith('%'); }));
    std::filesystem::resize_file(one, std::filesystem::file_size(one) / 2);
    ASSERT_TRUE(WaitUntil([&] { return window.Idle(); }));
    EXPECT_EQ(window.Column(fcStats)[0], "done, warning");
    EXPECT_TRUE(window.List()->topLevelItem(0)->toolTip(fcStats).endsWith(
        "; not saved: the earlier " + Q(earlier) + " stays"));
    EXPECT_EQ(std::filesystem::file_size(earlier), 7u);
}

TEST_F(MainWindowTest, WhatTheJobsRaisedBeforeStopDoesNotUndoIt)
{
    Window window(services, folders);
    UsePacedJobs(*window.form, 10ms);
    window.Add(services, {Q(MakeTone(root, "one.wav", 3.0)), Q(MakeTone(root, "two.wav", 3.0))});
    window.Button("spSkinButton9")->click();
    ASSERT_TRUE(WaitUntil([&] { return window.Column(fcStats)[0].endsWith('%'); }));
    // A last report and the run's end raised just before Stop: their effects are still
    // queued when Stop returns.
    std::thread([&] {
        window.form->LumoAVCProgress(0, 0, 0, 1000, 0, 0, 0, 3000);
        window.form->LumoAVCTerminate(-1, true);
    }).join();
    window.Button("spSkinButton8")->click();
    const int gaugeValue = window.Gauge()->value();
    const int gaugeMaximum = window.Gauge()->maximum();

    Pump(200ms);
    EXPECT_EQ(window.Tips()->text(), "    Done - 1 file not converted (1 stopped)");
    EXPECT_EQ(window.Column(fcStats), (QStringList{"stopped", "-"}));
    EXPECT_EQ(window.Gauge()->value(), gaugeValue);
    EXPECT_EQ(window.Gauge()->maximum(), gaugeMaximum);
    EXPECT_TRUE(window.Idle());
    EXPECT_TRUE(services.opened.isEmpty());
}

TEST_F(MainWindowTest, ClosingDuringARunStopsItAndNothingReachesTheWindowAfter)
{
    Window window(services, folders);
    UsePacedJobs(*window.form, 10ms);
    window.Add(services, {Q(MakeTone(root, "one.wav", 3.0)), Q(MakeTone(root, "two.wav", 3.0))});
    window.form->show();
    window.Button("spSkinButton9")->click();
    ASSERT_TRUE(WaitUntil([&] { return window.Column(fcStats)[0].endsWith('%'); }));

    EXPECT_TRUE(window.form->close());
    EXPECT_FALSE(window.form->LumoAVC().OnProgress());
    EXPECT_FALSE(window.form->LumoAVC().OnTerminate());
    const QStringList stats = window.Column(fcStats);
    const QString tips = window.Tips()->text();
    Pump(300ms);
    EXPECT_EQ(window.Column(fcStats), stats);
    EXPECT_EQ(window.Tips()->text(), tips);
    EXPECT_TRUE(services.opened.isEmpty());
    // Destroying the window waits for the stopped job.
    window.form.reset();
    Pump(50ms);
}

TEST_F(MainWindowTest, ProgressShowsShareOfTheLengthOrTheTimeWrittenWhenLengthIsUnknown)
{
    Window window(services, folders);
    UseHeldJobs(*window.form);
    window.Add(services, {Q(MakeTone(root, "song.mp3", 0.2)), Q(MakeTone(root, "b.mp3", 0.2)),
                          Q(MakeTone(root, "c.mp3", 0.2))});
    window.Button("spSkinButton9")->click();
    const auto raise = [&](std::function<void()> event) {
        std::thread worker(std::move(event));
        worker.join();
        Pump(20ms);
    };

    raise([&] { window.form->LumoAVCProgress(0, 0, 0, 30000, 0, 0, 0, 120000); });
    EXPECT_EQ(window.Column(fcStats)[0], "25%");
    EXPECT_EQ(window.Gauge()->maximum(), 120000);
    EXPECT_EQ(window.Gauge()->value(), 30000);
    EXPECT_EQ(window.Tips()->text(), "   File: 1 of 3         Completed: 25%      song.mp3");

    // Twelve hours in: no overflow on the way to the percentage.
    raise([&] { window.form->LumoAVCProgress(1, 0, 0, 43200000, 0, 0, 0, 86400000); });
    EXPECT_EQ(window.Column(fcStats)[1], "50%");

    for (int32_t total : {-1, 0}) {
        raise([&] { window.form->LumoAVCProgress(2, 0, 0, 75000, 0, 0, 0, total); });
        EXPECT_EQ(window.Column(fcStats)[2], "1:15") << total;
        EXPECT_EQ(window.Gauge()->maximum(), 0) << "a busy gauge";
        EXPECT_EQ(window.Tips()->text(),
                  "   File: 3 of 3         Completed: 1:15      c.mp3   (length unknown)");
    }

    raise([&] { window.form->LumoAVCTerminate(2, true); });
    EXPECT_EQ(window.Column(fcStats)[2], "100%");
    EXPECT_EQ(window.Gauge()->maximum(), 100);
    EXPECT_EQ(window.Gauge()->value(), 100);

    // Effects keep the order in which a thread raised the events.
    raise([&] {
        for (int32_t time = 0; time <= 1000; time += 10)
            window.form->LumoAVCProgress(1, 0, 0, time, 0, 0, 0, 1000);
        window.form->LumoAVCTerminate(1, false);
    });
    EXPECT_EQ(window.Column(fcStats)[1], "failed");
    EXPECT_EQ(window.form->RunProblems().size(), 1u);

    // An input whose header announced less than it holds: never more than all of it.
    raise([&] { window.form->LumoAVCProgress(0, 0, 0, 33600, 0, 0, 0, 30000); });
    EXPECT_EQ(window.Column(fcStats)[0], "100%");

    raise([&] { window.form->LumoAVCTerminate(-1, true); });
    EXPECT_TRUE(window.Idle());
    EXPECT_EQ(services.opened, QStringList{Q(folders.DefaultFolder)});
    window.Button("spSkinButton8")->click();
}

TEST_F(MainWindowTest, HelpOpensThePageBesideTheProgram)
{
    Window window(services, folders);
    window.Button("spSkinButton5")->click();
    EXPECT_EQ(services.opened, QStringList{Q(folders.HelpFile)});
}

TEST_F(MainWindowTest, WhatCannotBeOpenedIsReported)
{
    services.openSucceeds = false;
    Window window(services, folders);
    window.Button("spSkinButton5")->click();
    EXPECT_EQ(services.errors, QStringList{"Cannot open " + Q(folders.HelpFile)});

    // The output folder at the end of a run.
    window.Add(services, {Q(MakeTone(root, "a.wav", 0.2))});
    ConvertAndWait(window);
    ASSERT_EQ(services.errors.size(), 2);
    EXPECT_EQ(services.errors[1], "Cannot open " + Q(folders.DefaultFolder));
}

TEST_F(MainWindowTest, RemembersTheFormatAndTheLastFolderAcrossStarts)
{
    const std::string file = fixtures::MakeRawFile(root.File("a.mp3"), "x");
    {
        Window window(services, folders);
        window.Combo()->setCurrentIndex(1);
        window.Add(services, {Q(file)});
        window.form->move(12, 34);
        window.form->close();
    }
    Window window(services, folders);
    EXPECT_EQ(window.form->pos(), QPoint(12, 34));
    EXPECT_EQ(window.Combo()->currentIndex(), 1);
    EXPECT_EQ(window.form->LastOpenFolder(), Q(root.Path() + "/"));
    // The window's own settings stay out of Path.ini.
    EXPECT_EQ(ReadStoredPath(folders.PathIniFile(), "Output"), kNoCode);
}

TEST_F(MainWindowTest, ConvertsAtTheQualityChosenForTheFormatAndRemembersBoth)
{
    const std::string tone = MakeTone(root, "tone.wav", 1.0);
    const struct {
        TTargetFormat format;
        double shown;  // in Settings
        const char* output;
        const char* codec;
        bool larger;  // than at the format's default
        const char* key;
        const char* stored;
    } cases[] = {
        {TTargetFormat::Mp3, 0, "tone.mp3", "mp3", true, "Quality.mp3", "0"},
        {TTargetFormat::Flac, 8, "tone.flac", "flac", false, "Quality.flac", "8"},
        {TTargetFormat::Aac, 256, "tone.m4a", "aac", true, "Quality.aac", "256000"},
    };
    const auto quality = [](const Window& window) {
        window.settings->show();
        return window.settings->findChild<QDoubleSpinBox*>("QualityBox");
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        const std::string output = folders.DefaultFolder + c.output;
        {
            Window window(services, folders);
            window.Combo()->setCurrentIndex(static_cast<int>(c.format));
            window.Add(services, {Q(tone)});
            ConvertAndWait(window);
            const auto defaultSize = std::filesystem::file_size(output);
            quality(window)->setValue(c.shown);
            window.settings->findChild<QPushButton*>("spSkinButton1")->click();
            ConvertAndWait(window);
            EXPECT_EQ(std::filesystem::file_size(output) > defaultSize, c.larger);
            window.form->close();
        }
        const fixtures::MediaInfo info = fixtures::Probe(output);
        ASSERT_EQ(info.streams.size(), 1u);
        EXPECT_EQ(info.streams[0].codec, c.codec);
        EXPECT_EQ(TIniFile(folders.WindowIniFile()).ReadString("Window", c.key, ""), c.stored);
        Window window(services, folders);
        EXPECT_EQ(window.Combo()->currentIndex(), static_cast<int>(c.format));
        EXPECT_EQ(quality(window)->value(), c.shown);
    }
    // A format a later version added starts at the first.
    std::ofstream(folders.WindowIniFile()) << "[Window]\nFormat=8\n";
    EXPECT_EQ(Window(services, folders).Combo()->currentIndex(), 0);
}

TEST_F(MainWindowTest, APlaceOffEveryScreenIsNotRestored)
{
    std::filesystem::create_directories(folders.ConfigFolder);
    std::ofstream(folders.WindowIniFile()) << "[Window]\nLeft=-5000\nTop=20\n";
    Window window(services, folders);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(window.form->geometry().center(), screen.center());
}

TEST(QtMainThreadScheduler, RunsTasksOnItsThreadAfterTheirDelay)
{
    app::TQtMainThreadScheduler scheduler;
    std::vector<int> ran;
    std::thread::id ranOn;
    const auto start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration delay{};
    std::thread poster([&] {
        scheduler.RunLater(100ms, [&] {
            ran.push_back(1);
            ranOn = std::this_thread::get_id();
            delay = std::chrono::steady_clock::now() - start;
        });
    });
    poster.join();
    scheduler.RunLater(0ms, [&] { ran.push_back(0); });
    EXPECT_TRUE(ran.empty()) << "never before RunLater returns";
    ASSERT_TRUE(WaitUntil([&] { return ran.size() == 2; }, 2s));
    EXPECT_EQ(ran, (std::vector<int>{0, 1}));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_GE(delay, 100ms);
}

}  // namespace
}  // namespace kelvaro::test
