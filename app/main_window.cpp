#include "app/main_window.h"

#include <sys/stat.h>

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMetaObject>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

#include "app/app_icon.h"
#include "app/native_path.h"
#include "app/platform_services.h"
#include "app/settings_dialog.h"
#include "app/size_text.h"
#include "converter/audio_extensions.h"
#include "converter/conversion_rule.h"
#include "converter/duration_text.h"
#include "converter/path_ini.h"

namespace kelvaro::app {
namespace {

// The open dialog's filter in the form the program has always kept it.
constexpr char kOpenDialogFilter[] =
    "Audio Files|*.wav;*.au;*.aiff;*.mp3;*.mp2;*.ogg;*.aac;*.m4a;*.mp4;*.vqf;*.ape;*.wma;"
    "*.wmv;*.asf;*.avi;*.mpg;*.mpeg;*.dat;*.flac;*.mid;*.mka;*.mpa;*.mpc;*.ofr;*.ra;*.wv;"
    "*.tta;*.ac3;*.dts|All Files(*.*)|*.*";

constexpr char kWindowSection[] = "Window";

// How long Add may go without letting the window's pending events run.
constexpr std::chrono::milliseconds kAddEventInterval{20};
// How long Convert gives rows their jobs before the window's pending events run.
constexpr std::chrono::milliseconds kFeedSlice{10};

QString NamePart(const QString& path)
{
    return FromNative(FileNamePart(Native(path)));
}

TColor ToColor(const QColor& color)
{
    return static_cast<TColor>(color.red()) | static_cast<TColor>(color.green()) << 8 |
           static_cast<TColor>(color.blue()) << 16;
}

// The desktop's palette as the component's system colours, for colour references in option
// records.
TSystemColorTable PaletteColors(const QPalette& palette)
{
    TSystemColorTable table = DefaultSystemColors();
    const auto set = [&](TSystemColor index, QPalette::ColorGroup group, QPalette::ColorRole role) {
        table[index] = ToColor(palette.color(group, role));
    };
    constexpr auto active = QPalette::Active;
    set(scBackground, active, QPalette::Window);
    set(scWindow, active, QPalette::Base);
    set(scWindowText, active, QPalette::WindowText);
    set(scMenu, active, QPalette::Window);
    set(scMenuText, active, QPalette::WindowText);
    set(scButtonFace, active, QPalette::Button);
    set(scButtonText, active, QPalette::ButtonText);
    set(scButtonShadow, active, QPalette::Dark);
    set(scButtonHighlight, active, QPalette::Light);
    set(scLight3D, active, QPalette::Midlight);
    set(scDarkShadow3D, active, QPalette::Shadow);
    set(scHighlight, active, QPalette::Highlight);
    set(scHighlightText, active, QPalette::HighlightedText);
    set(scGrayText, QPalette::Disabled, QPalette::Text);
    set(scInfoText, active, QPalette::ToolTipText);
    set(scInfoBackground, active, QPalette::ToolTipBase);
    set(scHotLight, active, QPalette::Link);
    return table;
}

// Dropped folders stand for the audio files beneath them, in name order.
QStringList ExpandFolders(const QStringList& paths)
{
    QStringList nameFilters;
    for (const QString& extension : AudioFileExtensions())
        nameFilters << QStringLiteral("*.") + extension;
    QStringList files;
    for (const QString& path : paths) {
        if (!QFileInfo(path).isDir()) {
            files << path;
            continue;
        }
        QStringList found;
        QDirIterator it(path, nameFilters, QDir::Files | QDir::Readable,
                        QDirIterator::Subdirectories | QDirIterator::FollowSymlinks);
        while (it.hasNext())
            found << it.next();
        found.sort();
        files << found;
    }
    return files;
}

}  // namespace

QString OpenDialogFilter()
{
    const QStringList parts = QString::fromLatin1(kOpenDialogFilter).split('|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(';');
        // "*.*" meant every file where every file had an extension.
        patterns.replaceInStrings(QStringLiteral("*.*"), QStringLiteral("*"));
        filters << parts[i] + QStringLiteral(" (") + patterns.join(' ') + ')';
    }
    return filters.join(QStringLiteral(";;"));
}

QStringList AudioFileExtensions()
{
    QStringList extensions;
    for (const std::string& extension : AudioExtensions())
        extensions << QString::fromStdString(extension);
    return extensions;
}

TForm1::TForm1(TPlatformServices& services, TAppFolders folders, QWidget* parent)
    : QWidget(parent), services_(services), folders_(std::move(folders))
{
    CreateControls();
    FormCreate();

    // Unused while the window starts its runs on a worker (Start(1)), but the component
    // cannot run on the main thread without one.
    LumoAVC_.SetMainThreadScheduler(&scheduler_);
    LumoAVC_.SetSystemColors(PaletteColors(palette()));
    LumoAVC_.SetOnProgress([this](int32_t AIndex, int32_t AFrameNumber, int32_t AFPS,
                                  int32_t ADurationTime, float AQuality, float ABitRate,
                                  int64_t ACurrentSize, int32_t ATotalDuration) {
        LumoAVCProgress(AIndex, AFrameNumber, AFPS, ADurationTime, AQuality, ABitRate, ACurrentSize,
                        ATotalDuration);
    });
    LumoAVC_.SetOnTerminate(
        [this](int32_t AIndex, bool AFinished) { LumoAVCTerminate(AIndex, AFinished); });
}

TForm1::~TForm1()
{
    // The component goes with the window and waits for its workers; none of their events
    // may reach a window that is being taken apart.
    RemoveHandlers();
    closed_ = true;
}

void TForm1::CreateControls()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(610, 413);
    setWindowIcon(AppIcon());
    setAcceptDrops(true);

    const auto button = [this](const char* name, const char* text, int x, int y, int w, int h) {
        auto* b = new QPushButton(QString::fromLatin1(text), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(x, y, w, h);
        return b;
    };
    spSkinButton1 = button("spSkinButton1", "Add", 24, 24, 75, 25);
    spSkinButton2 = button("spSkinButton2", "Remove", 120, 24, 75, 25);
    spSkinButton3 = button("spSkinButton3", "Clean", 216, 24, 75, 25);
    spSkinButton4 = button("spSkinButton4", "Settings", 312, 24, 75, 25);
    spSkinButton5 = button("spSkinButton5", "Help", 520, 24, 75, 25);

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("spSkinPanel1"));
    panel->setGeometry(24, 64, 569, 265);
    panel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(1, 1, 1, 1);

    LvFiles = new QTreeWidget(panel);
    LvFiles->setObjectName(QStringLiteral("LvFiles"));
    LvFiles->setFrameShape(QFrame::NoFrame);
    LvFiles->setColumnCount(4);
    LvFiles->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Size"),
                              QStringLiteral("Stats"), QStringLiteral("Path")});
    LvFiles->setColumnWidth(fcName, 150);
    LvFiles->setColumnWidth(fcSize, 100);
    LvFiles->setColumnWidth(fcStats, 100);
    LvFiles->setColumnWidth(fcPath, 180);
    LvFiles->header()->setStretchLastSection(false);
    LvFiles->setRootIsDecorated(false);
    LvFiles->setItemsExpandable(false);
    LvFiles->setUniformRowHeights(true);
    LvFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
    LvFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
    LvFiles->setAllColumnsShowFocus(true);
    LvFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
    panelLayout->addWidget(LvFiles);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(24, 328, 569, 6);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(100);
    ProgressBar1->setTextVisible(false);

    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setGeometry(24, 352, 193, 21);

    spSkinButton8 = button("spSkinButton8", "Stop", 448, 352, 65, 25);
    spSkinButton9 = button("spSkinButton9", "Convert", 528, 352, 65, 25);

    BTips = new QLabel(this);
    BTips->setObjectName(QStringLiteral("BTips"));
    BTips->setGeometry(0, 392, 610, 21);
    BTips->setFrameStyle(QFrame::Panel | QFrame::Sunken);

    connect(spSkinButton1, &QPushButton::clicked, this, &TForm1::spSkinButton1Click);
    connect(spSkinButton2, &QPushButton::clicked, this, &TForm1::spSkinButton2Click);
    connect(spSkinButton3, &QPushButton::clicked, this, &TForm1::spSkinButton3Click);
    connect(spSkinButton4, &QPushButton::clicked, this, &TForm1::spSkinButton4Click);
    connect(spSkinButton5, &QPushButton::clicked, this, &TForm1::spSkinButton5Click);
    connect(spSkinButton8, &QPushButton::clicked, this, &TForm1::spSkinButton8Click);
    connect(spSkinButton9, &QPushButton::clicked, this, &TForm1::spSkinButton9Click);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TForm1::FormCreate()
{
    openDialogFilter_ = OpenDialogFilter();
    openDialogFirstFilter_ = openDialogFilter_.section(QStringLiteral(";;"), 0, 0);

    setWindowTitle(QStringLiteral(" Kelvaro V2.0"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Kelvaro V2.0"));

    ComboBox1->addItem(QStringLiteral("  WMA  (*.wma)"));
    ComboBox1->addItem(QStringLiteral("  WAV  (*.wav)"));
    ComboBox1->setCurrentIndex(0);

    OutputFolder_.clear();
    spSkinButton8->setEnabled(false);

    OutputFolder_ = FromNative(DefaultOutputFolder(folders_));

    ReadWindowSettings();
}

void TForm1::ReadWindowSettings()
{
    const TIniFile ini(folders_.WindowIniFile());
    const std::string format = ini.ReadString(kWindowSection, "Format", "0");
    if (format == "1")
        ComboBox1->setCurrentIndex(1);
    LastOpenFolder_ = FromNative(ini.ReadString(kWindowSection, "LastOpenFolder", ""));

    // Where the user last left the window, if that is still on a screen; centred otherwise.
    bool leftOk = false;
    bool topOk = false;
    const QPoint place(
        QString::fromStdString(ini.ReadString(kWindowSection, "Left", "")).toInt(&leftOk),
        QString::fromStdString(ini.ReadString(kWindowSection, "Top", "")).toInt(&topOk));
    if (!leftOk || !topOk)
        return;
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen->availableGeometry().contains(QRect(place, size()))) {
            move(place);
            return;
        }
    }
}

void TForm1::WriteWindowSettings() const
{
    // Remembering is a convenience: a folder we cannot write costs nothing but that.
    if (!QDir().mkpath(FromNative(folders_.ConfigFolder)))
        return;
    TIniFile ini(folders_.WindowIniFile());
    ini.WriteString(kWindowSection, "Format", std::to_string(ComboBox1->currentIndex()));
    ini.WriteString(kWindowSection, "LastOpenFolder", Native(LastOpenFolder_));
    ini.WriteString(kWindowSection, "Left", std::to_string(pos().x()));
    ini.WriteString(kWindowSection, "Top", std::to_string(pos().y()));
}

void TForm1::spSkinButton1Click()
{
    if (adding_)
        return;
    const QStringList files = services_.GetOpenFileNames(this, LastOpenFolder_, openDialogFilter_,
                                                         openDialogFirstFilter_);
    if (files.isEmpty())
        return;
    LastOpenFolder_ = files.first().left(files.first().lastIndexOf('/') + 1);
    AddFiles(files);
}

void TForm1::AddFiles(const QStringList& files)
{
    if (adding_ || !spSkinButton1->isEnabled())
        return;
    adding_ = true;
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    for (const QString& file : ExpandFolders(files)) {
        const int64_t size = GetFileSize(Native(file));
        // The whole row at once: one change of the list per file.
        new QTreeWidgetItem(
            LvFiles,
            QStringList{NamePart(file),
                        QString::fromStdString(FormatSizeText(size, TSizeTextVariant::Add)),
                        QString(), file});
        BTips->setText(QStringLiteral("     ") + file);
        // Pending events run between files so that the window keeps answering, but not after
        // every file: each turn lays the whole list out again, and with thousands of rows
        // that would cost far more than the adding itself.
        if (sinceEvents.elapsed() >= kAddEventInterval.count()) {
            QCoreApplication::processEvents();
            sinceEvents.restart();
        }
    }
    BTips->setText(QStringLiteral("      Done"));
    adding_ = false;
}

void TForm1::spSkinButton2Click()
{
    if (adding_ || LvFiles->selectedItems().isEmpty())
        return;
    LvFiles->setUpdatesEnabled(false);
    for (int row = LvFiles->topLevelItemCount() - 1; row >= 0; --row) {
        if (LvFiles->topLevelItem(row)->isSelected())
            const std::unique_ptr<QTreeWidgetItem> removed(LvFiles->takeTopLevelItem(row));
    }
    LvFiles->setUpdatesEnabled(true);
}

void TForm1::spSkinButton3Click()
{
    if (adding_)
        return;
    LvFiles->clear();
}

void TForm1::spSkinButton4Click()
{
    if (settingsDialog_)
        settingsDialog_->exec();
}

void TForm1::spSkinButton5Click()
{
    OpenDocument(FromNative(folders_.HelpFile));
}

void TForm1::OpenDocument(const QString& path)
{
    if (!services_.OpenDocument(this, path))
        services_.ShowError(this, QStringLiteral("Cannot open %1").arg(path));
}

void TForm1::spSkinButton8Click()
{
    stopped_ = true;
    feed_.reset();
    LumoAVC_.Stop();
    // Waits for the running job's worker, which still drains and closes its output.
    LumoAVC_.Clear();
    EndBusyGauge();
    SetConverting(false);
    BTips->setText(QStringLiteral("    Done"));
}

void TForm1::spSkinButton9Click()
{
    if (adding_ || feed_ || LvFiles->topLevelItemCount() == 0 || OutputFolder_.isEmpty())
        return;
    if (!QFileInfo(OutputFolder_).isDir() && ::mkdir(Native(OutputFolder_).c_str(), 0777) != 0) {
        const int error = errno;
        services_.ShowError(this,
                            QStringLiteral("Cannot create the output folder %1: %2")
                                .arg(OutputFolder_, QString::fromLocal8Bit(std::strerror(error))));
        return;
    }
    EndBusyGauge();
    ProgressBar1->setValue(0);

    LumoAVC_.Clear();
    // Every job of the earlier run has ended: what they still have queued is stale.
    ++runId_;
    stopped_ = false;
    problems_.clear();
    rejectedCount_ = 0;
    refusedCount_ = 0;
    failedCount_ = 0;
    stoppedCount_ = 0;
    convertedCount_ = 0;
    jobRows_.clear();
    BTips->setToolTip(QString());
    for (int row = 0; row < LvFiles->topLevelItemCount(); ++row) {
        LvFiles->topLevelItem(row)->setText(fcStats, QString());
        LvFiles->topLevelItem(row)->setToolTip(fcStats, QString());
    }

    SetConverting(true);
    BTips->setText(QStringLiteral("    Please Wait......"));
    feed_ = std::make_unique<TFeed>();
    feed_->format = ComboBox1->currentIndex() == 0 ? TTargetFormat::Wma : TTargetFormat::Wav;
    feed_->folder = FolderWithSeparator(Native(OutputFolder_));
    OutputFolder_ = FromNative(feed_->folder);
    for (int row = 0; row < LvFiles->topLevelItemCount(); ++row)
        feed_->inputs.push_back(Native(LvFiles->topLevelItem(row)->text(fcPath)));

    // Once for the whole list: libraries that cannot be loaded refuse every file alike.
    if (!LumoAVC_.LoadLibraries(folders_.LibraryFolder, true)) {
        const QString reason = QString::fromStdString(LumoAVC_.LastError());
        for (int row = 0; row < LvFiles->topLevelItemCount(); ++row)
            RefuseRow(row, reason, rejectedCount_);
        feed_.reset();
        EndRunWithoutJobs();
        return;
    }
    LumoAVC_.BeginRun(1);
    FeedJobs();
}

void TForm1::FeedJobs()
{
    if (!feed_)
        return;  // stopped or closed meanwhile
    TFeed& feed = *feed_;
    QElapsedTimer slice;
    slice.start();
    // Every input is known to the claims before the first output is claimed, so that no
    // file is written over another listed after it.
    while (feed.inputsClaimed < feed.inputs.size() && slice.elapsed() < kFeedSlice.count())
        feed.claims.AddInput(feed.inputs[feed.inputsClaimed++]);
    while (feed.inputsClaimed == feed.inputs.size() && feed.rowsFed < feed.inputs.size() &&
           slice.elapsed() < kFeedSlice.count())
        FeedRow(static_cast<int>(feed.rowsFed++));
    if (feed.rowsFed < feed.inputs.size()) {
        QTimer::singleShot(0, this, &TForm1::FeedJobs);
        return;
    }
    feed_.reset();
    LumoAVC_.EndOfJobs();
    if (jobRows_.empty())
        EndRunWithoutJobs();
}

void TForm1::FeedRow(int row)
{
    const std::string& input = feed_->inputs[static_cast<size_t>(row)];
    const std::string output = OutputFileName(feed_->folder, input, TargetExtension(feed_->format));
    // One file's trouble must not end the others' run, and is told like any other.
    try {
        if (const std::string conflict = feed_->claims.Claim(input, output); !conflict.empty()) {
            RefuseRow(row, QString::fromStdString(conflict), refusedCount_);
            return;
        }
        const int32_t index = LumoAVC_.AddJob(input, ConversionSetUp(input, feed_->format, output));
        if (index < 0) {
            RefuseRow(row, QString::fromStdString(LumoAVC_.LastError()), rejectedCount_);
            return;
        }
        // Before any of the job's effects can arrive: they are queued behind this handler.
        if (jobRows_.size() <= static_cast<size_t>(index))
            jobRows_.resize(static_cast<size_t>(index) + 1, -1);
        jobRows_[static_cast<size_t>(index)] = row;
        LvFiles->topLevelItem(row)->setText(fcStats, QStringLiteral("-"));
    } catch (const std::exception& error) {
        RefuseRow(row, QString::fromStdString(error.what()), rejectedCount_);
    } catch (...) {
        RefuseRow(row, QStringLiteral("An unknown failure while adding the file"), rejectedCount_);
    }
}

void TForm1::RefuseRow(int row, const QString& reason, int& counter)
{
    ++counter;
    QTreeWidgetItem* item = LvFiles->topLevelItem(row);
    problems_.emplace_back(item->text(fcPath), reason);
    item->setText(fcStats, QStringLiteral("x"));
    item->setToolTip(fcStats, reason);
}

void TForm1::EndRunWithoutJobs()
{
    spSkinButton8Click();
    BTips->setText(BTips->text() + ' ' + ProblemSummary());
    ShowProblems();
}

QTreeWidgetItem* TForm1::RowOfJob(int32_t index) const
{
    if (index < 0 || static_cast<size_t>(index) >= jobRows_.size())
        return nullptr;
    return LvFiles->topLevelItem(jobRows_[static_cast<size_t>(index)]);
}

void TForm1::EndBusyGauge()
{
    // A file of unknown length turns the gauge into a busy indicator (a range of 0..0).
    if (ProgressBar1->maximum() == 0) {
        ProgressBar1->setRange(0, 100);
        ProgressBar1->setValue(100);
    }
}

void TForm1::SetConverting(bool converting)
{
    for (QPushButton* button :
         {spSkinButton1, spSkinButton2, spSkinButton3, spSkinButton4, spSkinButton9})
        button->setEnabled(!converting);
    spSkinButton8->setEnabled(converting);
}

void TForm1::LumoAVCProgress(int32_t AIndex, int32_t, int32_t, int32_t ADurationTime, float, float,
                             int64_t, int32_t ATotalDuration)
{
    try {
        const uint64_t run = runId_.load();
        QMetaObject::invokeMethod(
            this,
            [this, run, AIndex, ADurationTime, ATotalDuration] {
                if (Accepts(run))
                    ShowProgress(AIndex, ADurationTime, ATotalDuration);
            },
            Qt::QueuedConnection);
    } catch (...) {
        // Nothing may fly back into the job's thread; a lost progress step is harmless.
    }
}

void TForm1::LumoAVCTerminate(int32_t AIndex, bool AFinished)
{
    try {
        const uint64_t run = runId_.load();
        QString error;
        bool openFailed = false;
        if (AIndex >= 0 && !AFinished) {
            // Read here, on the job's own thread, while the job is certain to exist.
            try {
                error = QString::fromStdString(LumoAVC_.JobError(AIndex));
                openFailed = LumoAVC_.JobFailedToOpen(AIndex);
            } catch (const std::exception&) {
                // Without its reason the row still shows "x".
            }
        }
        QMetaObject::invokeMethod(
            this,
            [this, run, AIndex, AFinished, error, openFailed] {
                if (Accepts(run))
                    ShowTermination(AIndex, AFinished, error, openFailed);
            },
            Qt::QueuedConnection);
    } catch (...) {
    }
}

void TForm1::ShowProgress(int32_t index, int32_t durationTime, int32_t totalDuration)
{
    // Reports raised before Stop but delivered after it must not undo what Stop showed.
    if (stopped_)
        return;
    QTreeWidgetItem* item = RowOfJob(index);
    if (!item)
        return;
    QString stats;
    if (totalDuration > 0) {
        // 64 bits: past about six hours the product overflows 32.
        stats = QString::number(int64_t{durationTime} * 100 / totalDuration) + '%';
        ProgressBar1->setRange(0, totalDuration);
        ProgressBar1->setValue(std::clamp(durationTime, 0, totalDuration));
    } else {
        // No length known: nothing to divide by, so show how far the output has got.
        stats = QString::fromStdString(MinutesAndSeconds(std::chrono::milliseconds(durationTime)));
        ProgressBar1->setRange(0, 0);
    }
    item->setText(fcStats, stats);
    QString tips = QStringLiteral("   File: ") +
                   QString::number(LvFiles->indexOfTopLevelItem(item) + 1) +
                   QStringLiteral(" of ") + QString::number(LvFiles->topLevelItemCount()) +
                   QStringLiteral("         Completed: ") + stats + QStringLiteral("      ") +
                   item->text(fcName);
    if (totalDuration <= 0)
        tips += QStringLiteral("   (length unknown)");
    BTips->setText(tips);
}

void TForm1::ShowTermination(int32_t index, bool finished, const QString& error, bool openFailed)
{
    if (index < 0) {
        // Stop has already ended the run in the window; a run's end can still arrive from
        // the last job, which Stop's Clear waited for.
        if (stopped_)
            return;
        EndBusyGauge();
        SetConverting(false);
        BTips->setText(QStringLiteral("   Done ") + ProblemSummary());
        ShowProblems();
        // An empty folder would only say again that nothing was converted.
        if (convertedCount_ > 0)
            OpenDocument(OutputFolder_);
        return;
    }
    QTreeWidgetItem* item = RowOfJob(index);
    if (!item)
        return;
    EndBusyGauge();
    if (finished) {
        ++convertedCount_;
        item->setText(fcStats, QStringLiteral("100%"));
        ProgressBar1->setValue(ProgressBar1->maximum());
        return;
    }
    if (stopped_ && error.isEmpty()) {
        // Its file is valid but shorter than its input: not a done file.
        ++stoppedCount_;
        item->setText(fcStats, QStringLiteral("Stopped"));
        item->setToolTip(fcStats, QStringLiteral("Stopped before the end of the file"));
        BTips->setText(QStringLiteral("    Done ") + ProblemSummary());
        return;
    }
    item->setText(fcStats, QStringLiteral("x"));
    const QString reason =
        error.isEmpty() ? QStringLiteral("The conversion did not finish") : error;
    ++(openFailed ? rejectedCount_ : failedCount_);
    problems_.emplace_back(item->text(fcPath), reason);
    item->setToolTip(fcStats, reason);
    if (stopped_) {
        BTips->setText(QStringLiteral("    Done ") + ProblemSummary());
        ShowProblems();
    }
}

QString TForm1::ProblemSummary() const
{
    const int count = rejectedCount_ + refusedCount_ + failedCount_ + stoppedCount_;
    if (count == 0)
        return QString();
    QStringList parts;
    if (rejectedCount_ > 0)
        parts << QStringLiteral("%1 could not be opened").arg(rejectedCount_);
    if (refusedCount_ > 0)
        parts << QStringLiteral("%1 would overwrite another file").arg(refusedCount_);
    if (failedCount_ > 0)
        parts << QStringLiteral("%1 failed").arg(failedCount_);
    if (stoppedCount_ > 0)
        parts << QStringLiteral("%1 stopped").arg(stoppedCount_);
    return QStringLiteral("- %1 %2 not converted (%3%4)")
        .arg(count)
        .arg(count == 1 ? QStringLiteral("file") : QStringLiteral("files"))
        .arg(parts.join(QStringLiteral(", ")))
        .arg(problems_.empty() ? QString() : QStringLiteral("; point here for the reasons"));
}

void TForm1::ShowProblems()
{
    QStringList lines;
    for (const auto& [file, reason] : problems_)
        lines << file + QStringLiteral(": ") + reason;
    BTips->setToolTip(lines.join('\n'));
}

void TForm1::RemoveHandlers()
{
    // A handler removed here is not called for any event raised after this returns; one
    // being raised right now finishes first, and its effect is dropped by closed_.
    LumoAVC_.SetOnLog({});
    LumoAVC_.SetOnProgress({});
    LumoAVC_.SetOnTerminate({});
}

void TForm1::FormCloseQuery()
{
    RemoveHandlers();
    closed_ = true;
    feed_.reset();
    LumoAVC_.Stop();
}

void TForm1::closeEvent(QCloseEvent* event)
{
    FormCloseQuery();
    WriteWindowSettings();
    event->accept();
}

void TForm1::dragEnterEvent(QDragEnterEvent* event)
{
    if (spSkinButton1->isEnabled() && !adding_ && event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event)
{
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            paths << url.toLocalFile();
    }
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    AddFiles(paths);
}

}  // namespace kelvaro::app
