#pragma once
// What the window asks of the desktop: the open dialog, the folder picker, the error box and
// the "open" of a file or folder in its usual program. Behind an interface so that tests can
// answer in the user's place.
//
// Called on the user-interface thread only.

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

namespace kelvaro::app {

class TPlatformServices {
public:
    virtual ~TPlatformServices() = default;

    // The open dialog with several files allowed. `filter` in the dialog's own syntax, the
    // entry `selectedFilter` chosen first. Empty when the user cancels.
    virtual QStringList GetOpenFileNames(QWidget* owner, const QString& initialFolder,
                                         const QString& filter, const QString& selectedFilter) = 0;
    // The picked folder's full path, without a trailing separator except at the root; nothing
    // when the user cancels.
    virtual std::optional<QString> BrowseForFolder(QWidget* owner) = 0;
    virtual void ShowError(QWidget* owner, const QString& text) = 0;
    // Opens a file or folder as the file manager would. False when nothing could open it.
    virtual bool OpenDocument(QWidget* owner, const QString& path) = 0;
};

// The desktop's own dialogs, message box and handlers.
class TDesktopServices final : public TPlatformServices {
public:
    QStringList GetOpenFileNames(QWidget* owner, const QString& initialFolder,
                                 const QString& filter, const QString& selectedFilter) override;
    std::optional<QString> BrowseForFolder(QWidget* owner) override;
    void ShowError(QWidget* owner, const QString& text) override;
    bool OpenDocument(QWidget* owner, const QString& path) override;
};

}  // namespace kelvaro::app
