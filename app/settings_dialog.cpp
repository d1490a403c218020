#include "app/settings_dialog.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>

#include "app/main_window.h"
#include "app/native_path.h"
#include "app/platform_services.h"
#include "converter/app_folders.h"

namespace kelvaro::app {

TFset::TFset(TForm1& form, TPlatformServices& services)
    : QDialog(&form), form_(form), services_(services)
{
    setObjectName(QStringLiteral("Fset"));
    setWindowTitle(QStringLiteral(" Settings"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(321, 247);

    spSkinPageControl1 = new QTabWidget(this);
    spSkinPageControl1->setObjectName(QStringLiteral("spSkinPageControl1"));
    spSkinPageControl1->setGeometry(16, 16, 289, 177);
    auto* page = new QWidget(spSkinPageControl1);
    page->setObjectName(QStringLiteral("spSkinTabSheet1"));
    spSkinPageControl1->addTab(page, QStringLiteral("Output Path"));

    auto* label = new QLabel(QStringLiteral("Please click button to change path"), page);
    label->setObjectName(QStringLiteral("spSkinStdLabel1"));
    label->move(16, 24);
    // The layout was drawn for a narrower font than most desktops use: the text must end
    // before Browse begins.
    constexpr int kLabelRoom = 208 - 16 - 4;
    QFont font = label->font();
    while (QFontMetrics(font).horizontalAdvance(label->text()) > kLabelRoom &&
           font.pointSizeF() > 6.0)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    label->setFont(font);
    label->adjustSize();

    const auto button = [](QWidget* parent, const char* name, const char* text, int x, int y, int w,
                           int h) {
        auto* b = new QPushButton(QString::fromLatin1(text), parent);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(x, y, w, h);
        b->setAutoDefault(false);
        return b;
    };
    spSkinButton3 = button(page, "spSkinButton3", "Browse", 208, 24, 59, 21);
    spSkinEdit1 = new QLineEdit(page);
    spSkinEdit1->setObjectName(QStringLiteral("spSkinEdit1"));
    spSkinEdit1->setGeometry(16, 56, 257, 20);
    spSkinButton4 = button(page, "spSkinButton4", "Save as default", 16, 112, 113, 25);
    spSkinButton1 = button(this, "spSkinButton1", "OK", 144, 208, 75, 25);
    spSkinButton2 = button(this, "spSkinButton2", "Cancel", 232, 208, 75, 25);
    spSkinButton1->setDefault(true);

    connect(spSkinButton1, &QPushButton::clicked, this, &TFset::spSkinButton1Click);
    connect(spSkinButton2, &QPushButton::clicked, this, &TFset::spSkinButton2Click);
    connect(spSkinButton3, &QPushButton::clicked, this, &TFset::spSkinButton3Click);
    connect(spSkinButton4, &QPushButton::clicked, this, &TFset::spSkinButton4Click);

    FormCreate();
}

void TFset::FormCreate()
{
    // The window has just read the stored default into its folder.
    StartFolder_ = form_.OutputFolder();
    spSkinEdit1->setText(StartFolder_);
}

void TFset::showEvent(QShowEvent* event)
{
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
}

void TFset::spSkinButton1Click()
{
    form_.SetOutputFolder(spSkinEdit1->text());
    accept();
}

void TFset::spSkinButton2Click()
{
    reject();
}

void TFset::spSkinButton3Click()
{
    if (const auto folder = services_.BrowseForFolder(this))
        spSkinEdit1->setText(*folder);
}

void TFset::spSkinButton4Click()
{
    const QString text = spSkinEdit1->text();
    if (text.isEmpty())
        return;
    const TAppFolders& folders = form_.Folders();
    if (!StoreDefaultOutputFolder(folders, Native(text)))
        services_.ShowError(this, QStringLiteral("Unable to write to %1")
                                      .arg(FromNative(folders.PathIniFile())));
}

}  // namespace kelvaro::app
