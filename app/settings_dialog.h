#pragma once
// The settings dialog (uset): the output folder for this session (OK) and the stored default
// (Save as default), how many files convert at once, and the quality of the format chosen in
// the window, which keeps one for each format. Created once after the main window
// and only ever hidden, so text left in it when it was closed is there again the next time.
//
// User-interface thread only.

#include <QDialog>
#include <QString>

#include "converter/target_formats.h"

class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;

namespace kelvaro::app {

class TForm1;
class TPlatformServices;

class TFset final : public QDialog {
    Q_OBJECT
public:
    // Owned by `form`, whose output folder it starts from and whose stored default it
    // writes. `services` must outlive it.
    TFset(TForm1& form, TPlatformServices& services);

    // The main window's output folder when the dialog was created.
    QString StartFolder() const { return StartFolder_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    // Fits the quality control to `format` and shows the window's value for it.
    void ShowQuality(TTargetFormat format);
    void spSkinButton1Click();  // OK
    void spSkinButton2Click();  // Cancel
    void spSkinButton3Click();  // Browse
    void spSkinButton4Click();  // Save as default

    TForm1& form_;
    TPlatformServices& services_;
    QString StartFolder_;

    QTabWidget* spSkinPageControl1 = nullptr;
    QPushButton* spSkinButton1 = nullptr;
    QPushButton* spSkinButton2 = nullptr;
    QPushButton* spSkinButton3 = nullptr;
    QPushButton* spSkinButton4 = nullptr;
    QLineEdit* spSkinEdit1 = nullptr;
    QLabel* SavedLabel = nullptr;
    QSpinBox* FilesAtOnceBox = nullptr;
    QCheckBox* KeepPartialBox = nullptr;
    QLabel* QualityLabel = nullptr;
    QDoubleSpinBox* QualityBox = nullptr;
    QLabel* QualityHint = nullptr;
    // The format QualityBox shows, the window's choice when the dialog was shown.
    TTargetFormat qualityFormat_ = TTargetFormat::Wma;
};

}  // namespace kelvaro::app
