#pragma once
// What the window tests share: desktop services that answer in the user's place, a window
// with its settings dialog over temporary folders, and ways to wait for the event loop.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/platform_services.h"
#include "app/settings_dialog.h"
#include "converter/app_folders.h"
#include "fixtures/media_fixtures.h"

// Readable texts in failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& texts, std::ostream* out)
{
    *out << '{';
    for (qsizetype i = 0; i < texts.size(); ++i)
        *out << (i ? ", \"" : "\"") << texts[i].toStdString() << '"';
    *out << '}';
}

namespace kelvaro::test {

class FakeServices final : public app::TPlatformServices {
public:
    QStringList GetOpenFileNames(QWidget* owner, const QString& initialFolder,
                                 const QString& filter, const QString& selectedFilter) override;
    std::optional<QString> BrowseForFolder(QWidget* owner, const QString& startFolder) override;
    void ShowError(QWidget* owner, const QString& text) override;
    bool OpenDocument(QWidget* owner, const QString& path) override;
    void ShowNotification(const QString& summary, const QString& body) override;

    // What the next open dialog returns (empty: the user cancels).
    QStringList nextFiles;
    // What the next folder picker returns (none: the user cancels).
    std::optional<QString> nextFolder;
    // Whether OpenDocument finds a program for what it is given.
    bool openSucceeds = true;

    int openDialogCalls = 0;
    QString lastInitialFolder;
    QString lastFilter;
    QString lastSelectedFilter;
    QStringList errors;
    QStringList opened;
    QString lastBrowseStart;
    // "summary: body" of each notification.
    QStringList notifications;
};

// Folders under one temporary directory: out/ (the default output folder, not created),
// config/ (not created) and program/ (created).
TAppFolders TestFolders(const fixtures::TempDir& root);

// A window and its settings dialog, as the main routine makes them.
struct Window {
    Window(FakeServices& services, const TAppFolders& folders);
    ~Window();

    QPushButton* Button(const char* name) const;
    QTreeWidget* List() const;
    QLabel* Tips() const;
    QProgressBar* Gauge() const;
    QComboBox* Combo() const;
    // Row texts of one column.
    QStringList Column(int column) const;
    // Add through the open dialog.
    void Add(FakeServices& services, const QStringList& files);
    bool Idle() const;

    std::unique_ptr<app::TForm1> form;
    app::TFset* settings = nullptr;
};

// Runs the event loop until `done` holds or `timeout` passes; false on time-out.
bool WaitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(20));
// Runs the event loop for `duration`.
void Pump(std::chrono::milliseconds duration);

// Jobs that convert for real but slowly: every packet is reported and followed by a pause, so
// that a run can be caught in the middle.
void UsePacedJobs(app::TForm1& form, std::chrono::milliseconds pausePerPacket);

// Jobs that open their files and then only wait to be stopped: a run that stands still while
// a test raises the events itself.
void UseHeldJobs(app::TForm1& form);

// A stereo 44.1 kHz tone as a WAV file.
std::string MakeTone(const fixtures::TempDir& dir, const std::string& name, double seconds);

}  // namespace kelvaro::test
