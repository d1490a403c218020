#pragma once
// What the window asks of the desktop: the open dialog, the folder picker, the error box, the
// "open" of a file or folder in its usual program and a notification. Behind an interface so
// that tests can answer in the user's place.
//
// Called on the user-interface thread only.

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

namespace kelvaro::app {

// The installed desktop entry's id, which is also its icon's name: the desktop matches the
// program's windows and notifications with the entry by it.
inline constexpr char kDesktopId[] = "org.kelvaro.Kelvaro";

class TPlatformServices {
public:
    virtual ~TPlatformServices() = default;

    // The open dialog with several files allowed. `filter` in the dialog's own syntax, the
    // entry `selectedFilter` chosen first. Empty when the user cancels.
    virtual QStringList GetOpenFileNames(QWidget* owner, const QString& initialFolder,
                                         const QString& filter, const QString& selectedFilter) = 0;
    // The picked folder's full path, without a trailing separator except at the root; nothing
    // when the user cancels. The picker starts at `startFolder` when it exists.
    virtual std::optional<QString> BrowseForFolder(QWidget* owner, const QString& startFolder) = 0;
    virtual void ShowError(QWidget* owner, const QString& text) = 0;
    // Opens a file or folder as the file manager would. False when nothing could open it.
    virtual bool OpenDocument(QWidget* owner, const QString& path) = 0;
    // A desktop notification; returns at once, whether or not anyone shows it.
    virtual void ShowNotification(const QString& summary, const QString& body) = 0;
};

// The desktop's own dialogs, message box and handlers.
class TDesktopServices final : public TPlatformServices {
public:
    QStringList GetOpenFileNames(QWidget* owner, const QString& initialFolder,
                                 const QString& filter, const QString& selectedFilter) override;
    std::optional<QString> BrowseForFolder(QWidget* owner, const QString& startFolder) override;
    void ShowError(QWidget* owner, const QString& text) override;
    bool OpenDocument(QWidget* owner, const QString& path) override;
    // Through org.freedesktop.Notifications on the session bus, without waiting for an
    // answer; nothing when there is no session bus.
    void ShowNotification(const QString& summary, const QString& body) override;
};

}  // namespace kelvaro::app
