// How the window copes with a long list and with a run: the time from pressing Add with
// 10,000 picked files until the window answers again (median of runs), the longest time the
// window's event loop goes without turning while files convert, and the same over a Convert
// of 3,000 rows (with the time until the first of them is done), all under the usual desktop
// limit of 1,024 open files.
// Usage: bench_gui_responsiveness [RUNS]   (offscreen unless QT_QPA_PLATFORM says otherwise)
// Prints "add_10000_median_s=... add_10000_runs_s=... add_max_gap_ms=... convert_max_gap_ms=...
//         convert_max_gap_after_start_ms=... convert_setup_ms=... convert_total_s=...
//         convert_3000_max_gap_ms=... convert_3000_first_done_ms=... convert_3000_total_s=...".

#include <sys/resource.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "app/main_window.h"
#include "app/platform_services.h"
#include "converter/app_folders.h"
#include "fixtures/media_fixtures.h"

namespace {

using namespace kelvaro;

class PickedFiles final : public app::TPlatformServices {
public:
    QStringList GetOpenFileNames(QWidget*, const QString&, const QString&, const QString&) override
    {
        return files;
    }
    std::optional<QString> BrowseForFolder(QWidget*, const QString&) override
    {
        return std::nullopt;
    }
    void ShowNotification(const QString&, const QString&) override {}
    void ShowError(QWidget*, const QString& text) override
    {
        std::fprintf(stderr, "error: %s\n", qPrintable(text));
    }
    bool OpenDocument(QWidget*, const QString&) override { return true; }

    QStringList files;
};

QPushButton* Button(const app::TForm1& form, const char* name)
{
    return form.findChild<QPushButton*>(QString::fromLatin1(name));
}

// Runs the event loop until `done` holds.
template <class Done>
void RunUntil(Done done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 1024);
    if (setrlimit(RLIMIT_NOFILE, &files) != 0)
        std::perror("setrlimit");
    QApplication application(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    fixtures::TempDir root;
    TAppFolders folders;
    folders.DefaultFolder = root.File("out/");
    folders.ConfigFolder = root.File("config/");
    const TAppFolders installed = AppFoldersFromEnvironment();
    folders.ProgramFolder = installed.ProgramFolder;
    folders.HelpFile = installed.HelpFile;
    folders.LibraryFolder = installed.LibraryFolder;

    PickedFiles services;
    for (int i = 0; i < 10000; ++i) {
        const std::string file = root.File("track " + std::to_string(i) + ".mp3");
        std::ofstream(file) << std::string(static_cast<size_t>(i % 3000), 'x');
        services.files << QString::fromStdString(file);
    }

    app::TForm1 form(services, folders);
    form.show();
    QTreeWidget* list = form.findChild<QTreeWidget*>(QStringLiteral("LvFiles"));

    // A 1 ms timer records the event loop's turns; the longest wait between two is the
    // longest the window left the user without an answer.
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> turns;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, &form,
                     [&] { turns.push_back(clock.nsecsElapsed()); });
    // The longest gap between turns from `from` on.
    const auto longestGap = [&](qint64 from) {
        qint64 gap = 0;
        for (size_t i = 1; i < turns.size(); ++i)
            if (turns[i - 1] >= from)
                gap = std::max(gap, turns[i] - turns[i - 1]);
        return static_cast<double>(gap) / 1e6;
    };

    // --- Add: from the click until a zero-delay timer fires, i.e. the loop turns again.
    std::vector<double> addSeconds;
    double addMaxGap = 0;
    for (int run = 0; run < runs; ++run) {
        Button(form, "spSkinButton3")->click();
        QCoreApplication::processEvents();
        turns.clear();
        ticker.start(1);
        qint64 pressed = 0;
        qint64 answered = -1;
        QTimer::singleShot(0, &form, [&] {
            turns.push_back(pressed = clock.nsecsElapsed());
            Button(form, "spSkinButton1")->click();
            QTimer::singleShot(0, &form, [&] { answered = clock.nsecsElapsed(); });
        });
        RunUntil([&] { return answered >= 0; });
        ticker.stop();
        if (list->topLevelItemCount() != 10000) {
            std::fprintf(stderr, "Add listed %d rows\n", list->topLevelItemCount());
            return 1;
        }
        addSeconds.push_back(static_cast<double>(answered - pressed) / 1e9);
        addMaxGap = std::max(addMaxGap, longestGap(pressed));
    }

    // --- Convert: eight 20-second tones to WMA.
    Button(form, "spSkinButton3")->click();
    fixtures::AudioSpec audioSpec;
    audioSpec.seconds = 20;
    services.files.clear();
    for (int i = 0; i < 8; ++i)
        services.files << QString::fromStdString(
            fixtures::MakeWav(root.File("tone " + std::to_string(i) + ".wav"), audioSpec));
    Button(form, "spSkinButton1")->click();

    turns.clear();
    ticker.start(1);
    QCoreApplication::processEvents();
    qint64 setupStart = -1;
    qint64 setupEnd = -1;
    QTimer::singleShot(0, &form, [&] {
        turns.push_back(setupStart = clock.nsecsElapsed());
        Button(form, "spSkinButton9")->click();
        turns.push_back(setupEnd = clock.nsecsElapsed());
    });
    RunUntil([&] { return setupEnd >= 0 && Button(form, "spSkinButton9")->isEnabled(); });
    const double total = static_cast<double>(clock.nsecsElapsed() - setupStart) / 1e9;
    ticker.stop();

    const QString tips = form.findChild<QLabel*>(QStringLiteral("BTips"))->text();
    if (!tips.startsWith(QStringLiteral("   Done"))) {
        std::fprintf(stderr, "the run ended with \"%s\"\n", qPrintable(tips));
        return 1;
    }
    const double convertMaxGap = longestGap(setupStart);
    const double convertMaxGapAfterStart = longestGap(setupEnd);

    // --- Convert of many rows: links to one short tone, to WAV.
    constexpr int kManyRows = 3000;
    Button(form, "spSkinButton3")->click();
    audioSpec.seconds = 0.2;
    const std::string tone = fixtures::MakeWav(root.File("short.wav"), audioSpec);
    services.files.clear();
    for (int i = 0; i < kManyRows; ++i) {
        const std::string link = root.File("row " + std::to_string(i) + ".wav");
        std::filesystem::create_symlink(tone, link);
        services.files << QString::fromStdString(link);
    }
    Button(form, "spSkinButton1")->click();
    form.findChild<QComboBox*>(QStringLiteral("ComboBox1"))->setCurrentIndex(1);
    turns.clear();
    ticker.start(1);
    QCoreApplication::processEvents();
    qint64 manyStart = -1;
    qint64 firstDone = -1;
    QTimer::singleShot(0, &form, [&] {
        turns.push_back(manyStart = clock.nsecsElapsed());
        Button(form, "spSkinButton9")->click();
    });
    RunUntil([&] {
        if (firstDone < 0 && manyStart >= 0 &&
            list->topLevelItem(0)->text(app::fcStats) == QStringLiteral("100%"))
            firstDone = clock.nsecsElapsed();
        return manyStart >= 0 && Button(form, "spSkinButton9")->isEnabled();
    });
    const double manyTotal = static_cast<double>(clock.nsecsElapsed() - manyStart) / 1e9;
    ticker.stop();
    for (int row = 0; row < kManyRows; ++row)
        if (list->topLevelItem(row)->text(app::fcStats) != QStringLiteral("100%")) {
            std::fprintf(stderr, "row %d ended \"%s\"\n", row,
                         qPrintable(list->topLevelItem(row)->text(app::fcStats)));
            return 1;
        }
    std::printf("add_10000_median_s=%.3f add_10000_runs_s=", Median(addSeconds));
    for (size_t i = 0; i < addSeconds.size(); ++i)
        std::printf("%s%.3f", i ? "," : "", addSeconds[i]);
    std::printf(
        " add_max_gap_ms=%.1f convert_max_gap_ms=%.1f convert_max_gap_after_start_ms=%.1f"
        " convert_setup_ms=%.1f convert_total_s=%.2f convert_3000_max_gap_ms=%.1f"
        " convert_3000_first_done_ms=%.1f convert_3000_total_s=%.2f\n",
        addMaxGap, convertMaxGap, convertMaxGapAfterStart,
        static_cast<double>(setupEnd - setupStart) / 1e6, total, longestGap(manyStart),
        static_cast<double>(firstDone - manyStart) / 1e6, manyTotal);
    return 0;
}
