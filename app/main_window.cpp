#include "app/main_window.h"

#include <sys/stat.h>

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMetaObject>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>

#include "app/app_icon.h"
#include "app/file_list_view.h"
#include "app/folder_scan.h"
#include "app/native_path.h"
#include "app/platform_services.h"
#include "app/problems_dialog.h"
#include "app/settings_dialog.h"
#include "app/size_text.h"
#include "app/status_line.h"
#include "app/widget_size.h"
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

// The control's ceiling where a format names none (WMA): no lossy stream needs more than
// 16-bit stereo PCM at 48 kHz takes itself.
constexpr double kMaxBitRate = 1536000;

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

std::string QualityKey(const TFormatInfo& format)
{
    return std::string("Quality.") + format.Name;
}

// What Convert asks of the conversion for `value` of `format`'s quality setting.
TConversionSettings QualitySettings(const TFormatInfo& format, double value)
{
    TConversionSettings settings;
    // The default is left to the rule: WMA's then still converts a file whose rate is too low
    // for 128 kbit/s, as it always has, where a bit rate asked for would refuse it.
    if (value == QualitySettingRange(format).Default)
        return settings;
    switch (format.Quality) {
        case TQualityKind::BitRate:
            settings.BitRate = static_cast<int32_t>(value);
            break;
        case TQualityKind::Vbr:
            settings.Quality = value;
            break;
        case TQualityKind::Compression:
            settings.Compression = static_cast<int32_t>(value);
            break;
        case TQualityKind::None:
            break;
    }
    return settings;
}

}  // namespace

TFormatRange QualitySettingRange(const TFormatInfo& format)
{
    switch (format.Quality) {
        case TQualityKind::BitRate:
            return {format.BitRateRange.Low, std::min(format.BitRateRange.High, kMaxBitRate),
                    format.BitRateRange.Default};
        case TQualityKind::Vbr:
        case TQualityKind::Compression:
            return format.QualityRange;
        case TQualityKind::None:
            break;
    }
    return {};
}

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

QString ExpandHome(const QString& path)
{
    if (path == QStringLiteral("~"))
        return QDir::homePath();
    if (path.startsWith(QStringLiteral("~/")))
        return QDir::homePath() + path.mid(1);
    return path;
}

TForm1::TForm1(TPlatformServices& services, TAppFolders folders, QWidget* parent)
    : QWidget(parent), services_(services), folders_(std::move(folders))
{
    for (const TFormatInfo& format : TargetFormats())
        formatQuality_.push_back(QualitySettingRange(format).Default);
    CreateControls();
    CreateShortcuts();
    FormCreate();

    // Unused while the window starts its runs on workers, but the component cannot run on
    // the main thread without one.
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
                   Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(AppIcon());
    setAcceptDrops(true);

    const auto button = [this](const char* name, const QString& text, const QString& tip,
                               int width) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setToolTip(tip);
        SizeAtLeast(b, width, 25);
        return b;
    };
    spSkinButton1 = button("spSkinButton1", tr("&Add"), tr("Add audio files to the list (Ctrl+O)"),
                           75);
    spSkinButton2 = button("spSkinButton2", tr("&Remove"),
                           tr("Remove the selected files from the list (Delete)"), 75);
    spSkinButton3 = button("spSkinButton3", tr("C&lean"), tr("Empty the list"), 75);
    spSkinButton4 = button("spSkinButton4", tr("&Settings"),
                           tr("Choose the output folder, the quality and how many files "
                              "convert at once"),
                           75);
    AddFolderButton = button("AddFolderButton", tr("Add &Folder"),
                             tr("Add the audio files of a folder and its subfolders"), 75);
    spSkinButton5 = button("spSkinButton5", tr("&Help"), tr("Open the help page"), 75);

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("spSkinPanel1"));
    panel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(1, 1, 1, 1);

    LvFiles = new TFileListView(panel);
    LvFiles->setObjectName(QStringLiteral("LvFiles"));
    LvFiles->setFrameShape(QFrame::NoFrame);
    LvFiles->setColumnCount(4);
    LvFiles->setHeaderLabels({tr("Name"), tr("Size"), tr("Stats"), tr("Path")});
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
    // Cut in the middle, where a name or a path says least: its extension and its file stay.
    LvFiles->setTextElideMode(Qt::ElideMiddle);
    LvFiles->SetEmptyHint(tr("Drop audio files here, or press Add"));
    panelLayout->addWidget(LvFiles);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setFixedHeight(6);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(100);
    ProgressBar1->setTextVisible(false);

    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setToolTip(tr("The format of the converted files"));

    OutputFolderButton = new QPushButton(this);
    OutputFolderButton->setObjectName(QStringLiteral("OutputFolderButton"));
    OutputFolderButton->setFlat(true);
    OutputFolderButton->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    OutputFolderButton->setStyleSheet(QStringLiteral("text-align: left; padding: 0 4px;"));

    spSkinButton8 = button("spSkinButton8", tr("S&top"), tr("Stop converting"), 65);
    spSkinButton9 = button("spSkinButton9", tr("&Convert"),
                           tr("Convert every file of the list into the output folder"), 65);

    BTips = new TStatusLine(this);
    BTips->setObjectName(QStringLiteral("BTips"));
    BTips->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    BTips->setFixedHeight(std::max(21, BTips->fontMetrics().height() + 6));
    ProblemsButton = new QPushButton(this);
    ProblemsButton->setObjectName(QStringLiteral("ProblemsButton"));
    ProblemsButton->setToolTip(tr("Every file of the last run that was not converted, and why"));
    ProblemsButton->setFixedHeight(BTips->height());
    ProblemsButton->hide();

    // The specified places at the usual font: 24 from the left and top, the list 15 below
    // the buttons, the gauge under it, the format 18 below, the status line at the foot.
    auto* listButtons = new QHBoxLayout;
    listButtons->setSpacing(21);
    for (QPushButton* b : {spSkinButton1, spSkinButton2, spSkinButton3, spSkinButton4})
        listButtons->addWidget(b);
    auto* rightButtons = new QHBoxLayout;
    rightButtons->setSpacing(15);
    rightButtons->addWidget(AddFolderButton);
    rightButtons->addWidget(spSkinButton5);
    auto* top = new QHBoxLayout;
    top->setSpacing(0);
    // Help ends 2 further right than the list, as it always did.
    top->setContentsMargins(0, 0, -2, 0);
    top->addLayout(listButtons);
    // The two groups never touch, however wide a large font makes them.
    top->addSpacing(15);
    top->addStretch(1);
    top->addLayout(rightButtons);

    auto* bottom = new QHBoxLayout;
    bottom->setSpacing(15);
    bottom->addWidget(ComboBox1, 0, Qt::AlignTop);
    bottom->addWidget(OutputFolderButton, 1);
    bottom->addWidget(spSkinButton8);
    bottom->addWidget(spSkinButton9);

    auto* content = new QVBoxLayout;
    content->setContentsMargins(24, 24, 17, 15);
    content->setSpacing(0);
    content->addLayout(top);
    content->addSpacing(15);
    content->addWidget(panel, 1);
    content->addWidget(ProgressBar1);
    content->addSpacing(18);
    content->addLayout(bottom);

    auto* status = new QHBoxLayout;
    status->setSpacing(0);
    status->addWidget(BTips, 1);
    status->addWidget(ProblemsButton);

    auto* window = new QVBoxLayout(this);
    window->setContentsMargins(0, 0, 0, 0);
    window->setSpacing(0);
    window->addLayout(content, 1);
    window->addLayout(status);

    connect(spSkinButton1, &QPushButton::clicked, this, &TForm1::spSkinButton1Click);
    connect(spSkinButton2, &QPushButton::clicked, this, &TForm1::spSkinButton2Click);
    connect(spSkinButton3, &QPushButton::clicked, this, &TForm1::spSkinButton3Click);
    connect(spSkinButton4, &QPushButton::clicked, this, &TForm1::spSkinButton4Click);
    connect(spSkinButton5, &QPushButton::clicked, this, &TForm1::spSkinButton5Click);
    connect(spSkinButton8, &QPushButton::clicked, this, &TForm1::spSkinButton8Click);
    connect(spSkinButton9, &QPushButton::clicked, this, &TForm1::spSkinButton9Click);
    connect(AddFolderButton, &QPushButton::clicked, this, &TForm1::AddFolderClick);
    connect(OutputFolderButton, &QPushButton::clicked, this, &TForm1::spSkinButton4Click);
    connect(ProblemsButton, &QPushButton::clicked, this, &TForm1::ShowProblemsView);
}

void TForm1::CreateShortcuts()
{
    const auto shortcut = [this](const QKeySequence& keys, void (TForm1::*action)()) {
        auto* s = new QShortcut(keys, this);
        connect(s, &QShortcut::activated, this, action);
    };
    shortcut(QKeySequence::Open, &TForm1::spSkinButton1Click);
    shortcut(QKeySequence::Delete, &TForm1::spSkinButton2Click);
    shortcut(QKeySequence::SelectAll, &TForm1::SelectAll);
}

void TForm1::SelectAll()
{
    LvFiles->selectAll();
}

void TForm1::FormCreate()
{
    openDialogFilter_ = OpenDialogFilter();
    openDialogFirstFilter_ = openDialogFilter_.section(QStringLiteral(";;"), 0, 0);

    // The title alone: set as the application's display name it would be added to every
    // dialog's title too.
    setWindowTitle(tr(" Kelvaro V2.0"));

    ComboBox1->addItem(tr("  WMA  (*.wma)"));
    ComboBox1->addItem(tr("  WAV  (*.wav)"));
    for (const TFormatInfo& format : TargetFormats().subspan(2))
        ComboBox1->addItem(
            QStringLiteral("  %1  (*%2)")
                .arg(QString::fromLatin1(format.Label), QString::fromLatin1(format.Extension)));
    ComboBox1->setCurrentIndex(0);
    SizeAtLeast(ComboBox1, 193, 21);

    spSkinButton8->setEnabled(false);
    SetOutputFolder(FromNative(DefaultOutputFolder(folders_)));

    // The specified size is where the window starts and the least it takes, unless a larger
    // font needs more.
    const QSize size = FittingSize(this, QSize(610, 413));
    setMinimumSize(size);
    resize(size);
    // Places the controls now, not only once the window is shown.
    layout()->activate();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    ReadWindowSettings();
}

void TForm1::SetOutputFolder(const QString& folder)
{
    OutputFolder_ = folder;
    const QString shown = folder.isEmpty() ? tr("(none: choose one in Settings)") : folder;
    // Cut in the middle, where a path says least, to what the button shows inside its margins.
    const int margins = 2 * OutputFolderButton->style()->pixelMetric(QStyle::PM_ButtonMargin) + 8;
    OutputFolderButton->setText(OutputFolderButton->fontMetrics().elidedText(
        tr("To: %1").arg(shown), Qt::ElideMiddle,
        std::max(40, OutputFolderButton->width() - margins)));
    OutputFolderButton->setToolTip(tr("Converted files go to %1. Click to change.").arg(shown));
}

void TForm1::SetFilesAtOnce(int files)
{
    filesAtOnce_ = std::clamp(files, 1, std::max(1, QThread::idealThreadCount()));
}

TTargetFormat TForm1::Format() const
{
    return static_cast<TTargetFormat>(std::max(0, ComboBox1->currentIndex()));
}

double TForm1::FormatQuality(TTargetFormat format) const
{
    return formatQuality_[static_cast<size_t>(format)];
}

void TForm1::SetFormatQuality(TTargetFormat format, double value)
{
    const TFormatRange range = QualitySettingRange(FormatInfo(format));
    if (std::isfinite(value))
        formatQuality_[static_cast<size_t>(format)] = std::clamp(value, range.Low, range.High);
}

void TForm1::ReadWindowSettings()
{
    const TIniFile ini(folders_.WindowIniFile());
    bool formatOk = false;
    const int format =
        QString::fromStdString(ini.ReadString(kWindowSection, "Format", "0")).toInt(&formatOk);
    // A format this version does not know starts the window at the first.
    ComboBox1->setCurrentIndex(formatOk && format >= 0 && format < ComboBox1->count() ? format : 0);
    for (const TFormatInfo& info : TargetFormats()) {
        bool ok = false;
        const std::string text = ini.ReadString(kWindowSection, QualityKey(info), "");
        const double value = QString::fromStdString(text).toDouble(&ok);
        if (ok)
            SetFormatQuality(info.Format, value);
    }
    LastOpenFolder_ = FromNative(ini.ReadString(kWindowSection, "LastOpenFolder", ""));
    SetFilesAtOnce(QString::fromStdString(ini.ReadString(kWindowSection, "FilesAtOnce", "1")).toInt());
    keepPartialOutputs_ = ini.ReadString(kWindowSection, "KeepPartial", "0") == "1";

    // Where and how large the user last left the window, if that is still on a screen.
    bool leftOk = false;
    bool topOk = false;
    const QPoint place(
        QString::fromStdString(ini.ReadString(kWindowSection, "Left", "")).toInt(&leftOk),
        QString::fromStdString(ini.ReadString(kWindowSection, "Top", "")).toInt(&topOk));
    bool widthOk = false;
    bool heightOk = false;
    const QSize stored(
        QString::fromStdString(ini.ReadString(kWindowSection, "Width", "")).toInt(&widthOk),
        QString::fromStdString(ini.ReadString(kWindowSection, "Height", "")).toInt(&heightOk));
    if (widthOk && heightOk)
        resize(stored.expandedTo(minimumSize()));
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
    ini.WriteString(kWindowSection, "FilesAtOnce", std::to_string(filesAtOnce_));
    ini.WriteString(kWindowSection, "KeepPartial", keepPartialOutputs_ ? "1" : "0");
    for (const TFormatInfo& info : TargetFormats())
        if (info.Quality != TQualityKind::None)
            ini.WriteString(kWindowSection, QualityKey(info),
                            QString::number(FormatQuality(info.Format), 'g', 10).toStdString());
    ini.WriteString(kWindowSection, "Left", std::to_string(pos().x()));
    ini.WriteString(kWindowSection, "Top", std::to_string(pos().y()));
    ini.WriteString(kWindowSection, "Width", std::to_string(width()));
    ini.WriteString(kWindowSection, "Height", std::to_string(height()));
}

void TForm1::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    FitColumns();
    SetOutputFolder(OutputFolder_);
}

void TForm1::FitColumns()
{
    // At the specified width the columns have their specified widths; what the window has
    // beyond goes to the two columns whose texts are long, in their proportion.
    constexpr int kNameWidth = 150;
    constexpr int kPathWidth = 180;
    const int extra = std::max(0, width() - 610);
    LvFiles->setColumnWidth(fcName, kNameWidth + extra * kNameWidth / (kNameWidth + kPathWidth));
    LvFiles->setColumnWidth(fcPath, kPathWidth + extra * kPathWidth / (kNameWidth + kPathWidth));
}

void TForm1::spSkinButton1Click()
{
    if (adding_ || !spSkinButton1->isEnabled())
        return;
    const QStringList files = services_.GetOpenFileNames(this, LastOpenFolder_, openDialogFilter_,
                                                         openDialogFirstFilter_);
    if (files.isEmpty())
        return;
    LastOpenFolder_ = files.first().left(files.first().lastIndexOf('/') + 1);
    AddFiles(files);
}

void TForm1::AddFolderClick()
{
    if (adding_ || !AddFolderButton->isEnabled())
        return;
    if (const auto folder = services_.BrowseForFolder(this, LastOpenFolder_)) {
        LastOpenFolder_ = *folder + (folder->endsWith('/') ? QString() : QStringLiteral("/"));
        AddFiles({*folder});
    }
}

void TForm1::AddFiles(const QStringList& files)
{
    if (adding_ || !spSkinButton1->isEnabled())
        return;
    adding_ = true;
    const TFolderScan scan = ScanFolders(files, AudioFileExtensions());
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    for (const QString& file : scan.files) {
        const int64_t size = GetFileSize(Native(file));
        // The whole row at once: one change of the list per file.
        auto* item = new QTreeWidgetItem(
            LvFiles,
            QStringList{NamePart(file),
                        QString::fromStdString(FormatSizeText(size, TSizeTextVariant::Add)),
                        QString(), file});
        item->setToolTip(fcName, file);
        item->setToolTip(fcPath, file);
        BTips->SetText(QStringLiteral("     ") + file);
        // Pending events run between files so that the window keeps answering, but not after
        // every file: each turn lays the whole list out again, and with thousands of rows
        // that would cost far more than the adding itself.
        if (sinceEvents.elapsed() >= kAddEventInterval.count()) {
            QCoreApplication::processEvents();
            sinceEvents.restart();
        }
    }
    const int added = static_cast<int>(scan.files.size());
    QString text = QStringLiteral("      ") +
                   (added == 1 ? tr("1 file added") : tr("%1 files added").arg(added));
    if (const int skipped = scan.SkippedCount(); skipped > 0) {
        QStringList kinds;
        for (auto it = scan.skipped.cbegin(); it != scan.skipped.cend(); ++it)
            kinds << (it.key().isEmpty() ? tr("no extension") : QStringLiteral(".") + it.key());
        text += tr(", %1 skipped: not a kind of file Kelvaro reads (%2)")
                    .arg(skipped)
                    .arg(kinds.join(QStringLiteral(", ")));
    }
    BTips->SetText(text);
    adding_ = false;
}

void TForm1::spSkinButton2Click()
{
    if (adding_ || !spSkinButton2->isEnabled() || LvFiles->selectedItems().isEmpty())
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
    // What the status line and the Problems view said was about rows that are gone.
    SetStatus(QString());
    ClearProblems();
}

void TForm1::spSkinButton4Click()
{
    if (settingsDialog_ && spSkinButton4->isEnabled())
        settingsDialog_->exec();
}

void TForm1::spSkinButton5Click()
{
    OpenDocument(FromNative(folders_.HelpFile));
}

void TForm1::OpenDocument(const QString& path)
{
    if (!services_.OpenDocument(this, path))
        services_.ShowError(this, tr("Cannot open %1").arg(path));
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
    SetStatus(QStringLiteral("    ") + tr("Done"));
}

void TForm1::spSkinButton9Click()
{
    if (adding_ || feed_ || !spSkinButton9->isEnabled())
        return;
    if (LvFiles->topLevelItemCount() == 0) {
        SetStatus(QStringLiteral("    ") + tr("Add the files to convert first"));
        return;
    }
    if (OutputFolder_.isEmpty()) {
        SetStatus(QStringLiteral("    ") + tr("Choose an output folder in Settings first"));
        return;
    }
    SetOutputFolder(ExpandHome(OutputFolder_));
    if (!QFileInfo(OutputFolder_).isDir() && ::mkdir(Native(OutputFolder_).c_str(), 0777) != 0) {
        const int error = errno;
        services_.ShowError(this,
                            tr("Cannot create the output folder %1: %2")
                                .arg(OutputFolder_, QString::fromLocal8Bit(std::strerror(error))));
        return;
    }
    EndBusyGauge();
    ProgressBar1->setValue(0);

    LumoAVC_.Clear();
    // Every job of the earlier run has ended: what they still have queued is stale.
    ++runId_;
    stopped_ = false;
    ClearProblems();
    rejectedCount_ = 0;
    refusedCount_ = 0;
    failedCount_ = 0;
    stoppedCount_ = 0;
    convertedCount_ = 0;
    warnedCount_ = 0;
    jobRows_.clear();
    jobOutputs_.clear();
    runningRow_ = nullptr;
    for (int row = 0; row < LvFiles->topLevelItemCount(); ++row) {
        LvFiles->topLevelItem(row)->setText(fcStats, QString());
        LvFiles->topLevelItem(row)->setToolTip(fcStats, QString());
    }

    SetConverting(true);
    SetStatus(QStringLiteral("    ") + tr("Please Wait......"));
    runClock_.start();
    feed_ = std::make_unique<TFeed>();
    feed_->format = Format();
    feed_->settings = QualitySettings(FormatInfo(feed_->format), FormatQuality(feed_->format));
    feed_->folder = FolderWithSeparator(Native(OutputFolder_));
    SetOutputFolder(FromNative(feed_->folder));
    for (int row = 0; row < LvFiles->topLevelItemCount(); ++row)
        feed_->inputs.push_back(Native(LvFiles->topLevelItem(row)->text(fcPath)));

    // Made once, here: a folder removed during the run is not made again in silence.
    const bool folderMade = QDir().mkpath(FromNative(feed_->folder));
    // Once for the whole list: libraries that cannot be loaded refuse every file alike.
    if (!folderMade || !LumoAVC_.LoadLibraries(folders_.LibraryFolder, true)) {
        const QString reason =
            folderMade ? QString::fromStdString(LumoAVC_.LastError())
                       : tr("cannot create the output folder %1").arg(OutputFolder_);
        for (int row = 0; row < LvFiles->topLevelItemCount(); ++row)
            RefuseRow(row, reason, rejectedCount_);
        feed_.reset();
        EndRunWithoutJobs();
        return;
    }
    LumoAVC_.SetKeepStoppedOutputs(keepPartialOutputs_);
    LumoAVC_.BeginRun(filesAtOnce_);
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
    const std::string output =
        OutputFileName(feed_->folder, input, TargetExtension(feed_->format));
    // One file's trouble must not end the others' run, and is told like any other.
    try {
        if (const std::string conflict = feed_->claims.Claim(input, output); !conflict.empty()) {
            RefuseRow(row, QString::fromStdString(conflict), refusedCount_);
            return;
        }
        const int32_t index = LumoAVC_.AddJob(
            input, ConversionSetUp(input, feed_->format, output, {}, feed_->settings));
        if (index < 0) {
            RefuseRow(row, QString::fromStdString(LumoAVC_.LastError()), rejectedCount_);
            return;
        }
        // Before any of the job's effects can arrive: they are queued behind this handler.
        if (jobRows_.size() <= static_cast<size_t>(index))
            jobRows_.resize(static_cast<size_t>(index) + 1, -1);
        jobRows_[static_cast<size_t>(index)] = row;
        jobOutputs_.resize(jobRows_.size());
        jobOutputs_[static_cast<size_t>(index)] = output;
        LvFiles->topLevelItem(row)->setText(fcStats, QStringLiteral("-"));
    } catch (const std::exception& error) {
        RefuseRow(row, QString::fromStdString(error.what()), rejectedCount_);
    } catch (...) {
        RefuseRow(row, tr("An unknown failure while adding the file"), rejectedCount_);
    }
}

void TForm1::RefuseRow(int row, const QString& reason, int& counter)
{
    ++counter;
    QTreeWidgetItem* item = LvFiles->topLevelItem(row);
    AddProblem(item->text(fcPath), reason);
    item->setText(fcStats, tr("refused"));
    item->setToolTip(fcStats, reason);
}

void TForm1::EndRunWithoutJobs()
{
    spSkinButton8Click();
    SetStatus(BTips->text() + ' ' + ProblemSummary());
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
    for (QPushButton* button : {spSkinButton1, spSkinButton2, spSkinButton3, spSkinButton4,
                                spSkinButton9, AddFolderButton, OutputFolderButton})
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
        TJobEnding ending;
        // Read here, on the job's own thread, while the job is certain to exist.
        try {
            if (AIndex >= 0 && !AFinished) {
                ending.failure.EngineText = LumoAVC_.JobError(AIndex);
                ending.failure.LibraryText = LumoAVC_.JobLibraryError(AIndex);
                ending.failure.WhileOpening = LumoAVC_.JobFailedToOpen(AIndex);
                ending.partial = LumoAVC_.PartialOutput(AIndex);
            } else if (AIndex >= 0) {
                // A finished job's warning: what it converted is not all the input held.
                ending.warning = QString::fromStdString(LumoAVC_.JobWarning(AIndex));
            }
        } catch (const std::exception&) {
            // Without its reason the row still shows how it ended.
        }
        QMetaObject::invokeMethod(
            this,
            [this, run, AIndex, AFinished, ending = std::move(ending)]() mutable {
                if (Accepts(run))
                    ShowTermination(AIndex, AFinished, std::move(ending));
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
        // 64 bits: past about six hours the product overflows 32. A length the input
        // announced too short must not make more than all of it.
        stats = QString::number(std::min<int64_t>(int64_t{durationTime} * 100 / totalDuration, 100)) +
                '%';
        ProgressBar1->setRange(0, totalDuration);
        ProgressBar1->setValue(std::clamp(durationTime, 0, totalDuration));
    } else {
        // No length known: nothing to divide by, so show how far the output has got.
        stats = QString::fromStdString(MinutesAndSeconds(std::chrono::milliseconds(durationTime)));
        ProgressBar1->setRange(0, 0);
    }
    item->setText(fcStats, stats);
    if (item != runningRow_) {
        runningRow_ = item;
        LvFiles->scrollToItem(item);
    }
    QString tips = tr("   File: %1 of %2         Completed: %3      %4")
                       .arg(LvFiles->indexOfTopLevelItem(item) + 1)
                       .arg(LvFiles->topLevelItemCount())
                       .arg(stats, item->text(fcName));
    if (totalDuration <= 0)
        tips += tr("   (length unknown)");
    SetStatus(tips);
}

void TForm1::ShowTermination(int32_t index, bool finished, TJobEnding ending)
{
    if (index < 0) {
        // Stop has already ended the run in the window; a run's end can still arrive from
        // the last job, which Stop's Clear waited for.
        if (stopped_)
            return;
        EndBusyGauge();
        SetConverting(false);
        SetStatus(QStringLiteral("   ") + tr("Done") + ' ' + ProblemSummary());
        NotifyRunEnd();
        // An empty folder would only say again that nothing was converted.
        if (convertedCount_ > 0)
            OpenDocument(OutputFolder_);
        return;
    }
    QTreeWidgetItem* item = RowOfJob(index);
    if (!item)
        return;
    EndBusyGauge();
    // The engine's own text went to the log; the row tells what happened to the files.
    ending.failure.Input = Native(item->text(fcPath));
    ending.failure.Output = jobOutputs_[static_cast<size_t>(index)];
    const QString error =
        finished ? ending.warning : QString::fromStdString(FailureReason(ending.failure));
    const bool openFailed = ending.failure.WhileOpening;
    if (finished) {
        ++convertedCount_;
        ProgressBar1->setValue(ProgressBar1->maximum());
        if (error.isEmpty()) {
            item->setText(fcStats, QStringLiteral("100%"));
            return;
        }
        ++warnedCount_;
        item->setText(fcStats, tr("done, warning"));
        item->setToolTip(fcStats, error);
        AddProblem(item->text(fcPath), tr("warning: %1").arg(error));
        return;
    }
    if (stopped_ && error.isEmpty()) {
        // Its file is valid but shorter than its input: not a done file.
        ++stoppedCount_;
        item->setText(fcStats, tr("stopped"));
        item->setToolTip(fcStats,
                         ending.partial.empty()
                             ? tr("Stopped before the end of the file; nothing was kept")
                             : tr("Stopped before the end of the file; what it converted is "
                                  "kept as %1")
                                   .arg(FromNative(ending.partial)));
        SetStatus(QStringLiteral("    ") + tr("Done") + ' ' + ProblemSummary());
        return;
    }
    const QString reason = error.isEmpty() ? tr("The conversion did not finish") : error;
    ++(openFailed ? rejectedCount_ : failedCount_);
    item->setText(fcStats, openFailed ? tr("refused") : tr("failed"));
    item->setToolTip(fcStats, reason);
    AddProblem(item->text(fcPath), reason);
    if (stopped_)
        SetStatus(QStringLiteral("    ") + tr("Done") + ' ' + ProblemSummary());
}

void TForm1::AddProblem(const QString& file, const QString& reason)
{
    problems_.emplace_back(file, reason);
    ProblemsButton->setText(tr("&Problems (%1)").arg(problems_.size()));
    ProblemsButton->setFixedWidth(ProblemsButton->sizeHint().width());
    ProblemsButton->show();
    if (problemsDialog_)
        problemsDialog_->SetProblems(problems_);
}

void TForm1::ClearProblems()
{
    problems_.clear();
    ProblemsButton->hide();
    if (problemsDialog_)
        problemsDialog_->SetProblems(problems_);
}

void TForm1::ShowProblemsView()
{
    if (!problemsDialog_)
        problemsDialog_ = new TProblemsDialog(this);
    problemsDialog_->SetProblems(problems_);
    problemsDialog_->show();
    problemsDialog_->raise();
    problemsDialog_->activateWindow();
}

QString TForm1::ProblemSummary() const
{
    const int count = rejectedCount_ + refusedCount_ + failedCount_ + stoppedCount_;
    QStringList parts;
    if (rejectedCount_ > 0)
        parts << tr("%1 could not be opened").arg(rejectedCount_);
    if (refusedCount_ > 0)
        parts << tr("%1 would overwrite another file").arg(refusedCount_);
    if (failedCount_ > 0)
        parts << tr("%1 failed").arg(failedCount_);
    if (stoppedCount_ > 0)
        parts << tr("%1 stopped").arg(stoppedCount_);
    QString warned;
    if (warnedCount_ > 0)
        warned = ' ' + (warnedCount_ == 1 ? tr("- 1 file done with a warning")
                                           : tr("- %1 files done with a warning").arg(warnedCount_));
    if (count == 0)
        return warned.trimmed();
    return (count == 1 ? tr("- 1 file not converted (%1)")
                       : tr("- %1 files not converted (%2)").arg(count))
               .arg(parts.join(QStringLiteral(", "))) +
           warned;
}

void TForm1::SetStatus(const QString& text)
{
    BTips->SetText(text);
}

void TForm1::NotifyRunEnd()
{
    // Only when the user has turned to something else while a long run went on.
    if (isActiveWindow() || runClock_.elapsed() < notifyAfter_.count())
        return;
    const int notConverted = rejectedCount_ + refusedCount_ + failedCount_ + stoppedCount_;
    QString body = convertedCount_ == 1 ? tr("1 file converted")
                                        : tr("%1 files converted").arg(convertedCount_);
    if (notConverted > 0)
        body += tr(", %1 not converted").arg(notConverted);
    services_.ShowNotification(tr("Kelvaro: conversion finished"), body);
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
