#include "app/settings_dialog.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTabWidget>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>

#include "app/main_window.h"
#include "app/native_path.h"
#include "app/platform_services.h"
#include "app/widget_size.h"
#include "converter/app_folders.h"

namespace kelvaro::app {
namespace {

// Bit rates are chosen in kbit/s and kept in bit/s.
double KeptPerShown(const TFormatInfo& format)
{
    return format.Quality == TQualityKind::BitRate ? 1000 : 1;
}

}  // namespace

TFset::TFset(TForm1& form, TPlatformServices& services)
    : QDialog(&form), form_(form), services_(services)
{
    setObjectName(QStringLiteral("Fset"));
    setWindowTitle(tr(" Settings"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    const auto button = [](QWidget* parent, const char* name, const QString& text,
                           const QString& tip, int width, int height) {
        auto* b = new QPushButton(text, parent);
        b->setObjectName(QString::fromLatin1(name));
        b->setToolTip(tip);
        b->setAutoDefault(false);
        SizeAtLeast(b, width, height);
        return b;
    };

    spSkinPageControl1 = new QTabWidget(this);
    spSkinPageControl1->setObjectName(QStringLiteral("spSkinPageControl1"));
    auto* page = new QWidget(spSkinPageControl1);
    page->setObjectName(QStringLiteral("spSkinTabSheet1"));
    spSkinPageControl1->addTab(page, tr("Output Path"));

    auto* label = new QLabel(tr("Please click button to change path"), page);
    label->setObjectName(QStringLiteral("spSkinStdLabel1"));
    spSkinButton3 = button(page, "spSkinButton3", tr("&Browse"),
                           tr("Pick the folder in a folder dialog"), 59, 21);
    spSkinEdit1 = new QLineEdit(page);
    spSkinEdit1->setObjectName(QStringLiteral("spSkinEdit1"));
    spSkinEdit1->setToolTip(tr("The folder that receives the converted files; ~ is your home"));
    spSkinEdit1->setMinimumWidth(257);
    spSkinEdit1->setFixedHeight(FieldHeight(spSkinEdit1, 20));
    spSkinButton4 = button(page, "spSkinButton4", tr("&Save as default"),
                           tr("Use this folder also the next time Kelvaro starts"), 113, 25);
    SavedLabel = new QLabel(page);
    SavedLabel->setObjectName(QStringLiteral("SavedLabel"));

    // The label wraps rather than run under Browse or shrink its font.
    label->setWordWrap(true);
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(16, 24, 12, 12);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(0);
    grid->addWidget(label, 0, 0, Qt::AlignTop);
    grid->addWidget(spSkinButton3, 0, 1, Qt::AlignTop);
    grid->setRowMinimumHeight(1, 8);
    // Browse ends 6 before the edit does.
    grid->setColumnMinimumWidth(2, 6 - grid->horizontalSpacing());
    grid->addWidget(spSkinEdit1, 2, 0, 1, 3);
    grid->setRowMinimumHeight(3, 12);
    grid->setRowStretch(3, 1);
    auto* saveRow = new QHBoxLayout;
    saveRow->addWidget(spSkinButton4);
    saveRow->addWidget(SavedLabel, 1);
    grid->addLayout(saveRow, 4, 0, 1, 3);
    grid->setRowStretch(5, 1);
    grid->setColumnStretch(0, 1);

    auto* conversion = new QWidget(spSkinPageControl1);
    conversion->setObjectName(QStringLiteral("ConversionPage"));
    spSkinPageControl1->addTab(conversion, tr("Conversion"));
    FilesAtOnceBox = new QSpinBox(conversion);
    FilesAtOnceBox->setObjectName(QStringLiteral("FilesAtOnceBox"));
    FilesAtOnceBox->setRange(1, std::max(1, QThread::idealThreadCount()));
    FilesAtOnceBox->setToolTip(tr("More than one uses more of the processor's cores"));
    auto* filesLabel = new QLabel(tr("&Files converted at once:"), conversion);
    filesLabel->setBuddy(FilesAtOnceBox);
    auto* filesRow = new QHBoxLayout;
    filesRow->addWidget(filesLabel);
    filesRow->addWidget(FilesAtOnceBox);
    filesRow->addStretch(1);
    KeepPartialBox = new QCheckBox(tr("&Keep partial outputs"), conversion);
    KeepPartialBox->setObjectName(QStringLiteral("KeepPartialBox"));
    KeepPartialBox->setToolTip(
        tr("Kept as name.partial.ext beside any earlier file, which stays as it was"));
    QualityBox = new QDoubleSpinBox(conversion);
    QualityBox->setObjectName(QStringLiteral("QualityBox"));
    QualityLabel = new QLabel(conversion);
    QualityLabel->setObjectName(QStringLiteral("QualityLabel"));
    QualityLabel->setBuddy(QualityBox);
    QualityHint = new QLabel(conversion);
    QualityHint->setObjectName(QStringLiteral("QualityHint"));
    QualityHint->setWordWrap(true);
    auto* qualityRow = new QHBoxLayout;
    qualityRow->addWidget(QualityLabel);
    qualityRow->addWidget(QualityBox);
    qualityRow->addStretch(1);
    // The hint reads as the box's caption, and so the page keeps its size at the usual font.
    auto* quality = new QVBoxLayout;
    quality->setSpacing(0);
    quality->addLayout(qualityRow);
    quality->addWidget(QualityHint);
    auto* conversionLayout = new QVBoxLayout(conversion);
    conversionLayout->setContentsMargins(16, 24, 16, 16);
    conversionLayout->addLayout(quality);
    conversionLayout->addLayout(filesRow);
    conversionLayout->addWidget(KeepPartialBox);
    conversionLayout->addStretch(1);
    // Filled now, so that its texts count in the dialog's size.
    ShowQuality(form_.Format());

    spSkinButton1 = button(this, "spSkinButton1", tr("OK"), tr("Use this folder now"), 75, 25);
    spSkinButton2 = button(this, "spSkinButton2", tr("Cancel"), tr("Change nothing"), 75, 25);
    spSkinButton1->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(13);
    buttons->addStretch(1);
    buttons->addWidget(spSkinButton1);
    buttons->addWidget(spSkinButton2);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 14, 14);
    layout->setSpacing(15);
    // The pages end 2 before the buttons do.
    auto* pages = new QHBoxLayout;
    pages->setContentsMargins(0, 0, 2, 0);
    pages->addWidget(spSkinPageControl1);
    layout->addLayout(pages, 1);
    layout->addLayout(buttons);

    connect(spSkinButton1, &QPushButton::clicked, this, &TFset::spSkinButton1Click);
    connect(spSkinButton2, &QPushButton::clicked, this, &TFset::spSkinButton2Click);
    connect(spSkinButton3, &QPushButton::clicked, this, &TFset::spSkinButton3Click);
    connect(spSkinButton4, &QPushButton::clicked, this, &TFset::spSkinButton4Click);
    connect(spSkinEdit1, &QLineEdit::textEdited, SavedLabel, &QLabel::clear);

    const QSize size = FittingSize(this, QSize(321, 247));
    setMinimumSize(size);
    resize(size);
    // Places the controls now, not only once the dialog is shown.
    layout->activate();
    FormCreate();
}

void TFset::FormCreate()
{
    // The window has just read the stored default into its folder.
    StartFolder_ = form_.OutputFolder();
    spSkinEdit1->setText(StartFolder_);
}

void TFset::ShowQuality(TTargetFormat format)
{
    qualityFormat_ = format;
    const TFormatInfo& info = FormatInfo(format);
    const QString name = QString::fromLatin1(info.Label);
    const TFormatRange range = QualitySettingRange(info);
    const double scale = KeptPerShown(info);
    // Before the range and the value, which it rounds.
    QualityBox->setDecimals(info.Quality == TQualityKind::Vbr ? 1 : 0);
    QualityBox->setRange(range.Low / scale, range.High / scale);
    QualityBox->setValue(form_.FormatQuality(format) / scale);
    QualityBox->setSuffix(info.Quality == TQualityKind::BitRate ? tr(" kbit/s") : QString());
    QualityBox->setSpecialValueText(info.Quality == TQualityKind::None ? tr("-") : QString());
    QualityBox->setEnabled(info.Quality != TQualityKind::None);
    QualityBox->setToolTip(QString());
    const QString low = QString::number(range.Low);
    const QString high = QString::number(range.High);
    switch (info.Quality) {
        case TQualityKind::BitRate:
            QualityLabel->setText(tr("Bit &rate of %1:").arg(name));
            QualityHint->setText(tr("Higher sounds better, in larger files"));
            break;
        case TQualityKind::Vbr:
            QualityLabel->setText(tr("&Quality of %1:").arg(name));
            QualityHint->setText(
                tr("%1 is best, %2 makes the smallest files")
                    .arg(info.QualityLowIsBest ? low : high, info.QualityLowIsBest ? high : low));
            break;
        case TQualityKind::Compression:
            QualityLabel->setText(tr("&Compression of %1:").arg(name));
            QualityHint->setText(tr("%1 makes the smallest files, %2 is fastest").arg(high, low));
            QualityBox->setToolTip(tr("The sound is the same at every level"));
            break;
        case TQualityKind::None:
            QualityLabel->setText(tr("Quality of %1:").arg(name));
            QualityHint->setText(tr("%1 keeps every sample: nothing to choose").arg(name));
            break;
    }
}

void TFset::showEvent(QShowEvent* event)
{
    FilesAtOnceBox->setValue(form_.FilesAtOnce());
    KeepPartialBox->setChecked(form_.KeepPartialOutputs());
    ShowQuality(form_.Format());
    SavedLabel->clear();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
}

void TFset::spSkinButton1Click()
{
    // As a shell would read it: "~/Music" is the Music folder at home.
    form_.SetOutputFolder(ExpandHome(spSkinEdit1->text()));
    form_.SetFilesAtOnce(FilesAtOnceBox->value());
    form_.SetKeepPartialOutputs(KeepPartialBox->isChecked());
    if (QualityBox->isEnabled())
        form_.SetFormatQuality(qualityFormat_,
                               QualityBox->value() * KeptPerShown(FormatInfo(qualityFormat_)));
    accept();
}

void TFset::spSkinButton2Click()
{
    reject();
}

void TFset::spSkinButton3Click()
{
    if (const auto folder = services_.BrowseForFolder(this, ExpandHome(spSkinEdit1->text())))
        spSkinEdit1->setText(*folder);
}

void TFset::spSkinButton4Click()
{
    const QString text = spSkinEdit1->text();
    if (text.isEmpty())
        return;
    const TAppFolders& folders = form_.Folders();
    if (!StoreDefaultOutputFolder(folders, Native(text))) {
        services_.ShowError(this, tr("Unable to write to %1").arg(FromNative(folders.PathIniFile())));
        return;
    }
    SavedLabel->setText(tr("Saved: used from the next start on"));
}

}  // namespace kelvaro::app
