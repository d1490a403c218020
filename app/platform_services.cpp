#include "app/platform_services.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

namespace kelvaro::app {

QStringList TDesktopServices::GetOpenFileNames(QWidget* owner, const QString& initialFolder,
                                               const QString& filter, const QString& selectedFilter)
{
    QString selected = selectedFilter;
    return QFileDialog::getOpenFileNames(owner, QString(), initialFolder, filter, &selected);
}

std::optional<QString> TDesktopServices::BrowseForFolder(QWidget* owner,
                                                         const QString& startFolder)
{
    const QString folder = QFileDialog::getExistingDirectory(owner, QString(), startFolder);
    if (folder.isEmpty())
        return std::nullopt;
    return folder;
}

void TDesktopServices::ShowError(QWidget* owner, const QString& text)
{
    // The program's own title, as its main window shows it (in the desktop's language).
    const QString title = owner ? owner->window()->windowTitle().trimmed() : QString();
    QMessageBox::critical(owner, title, text);
}

bool TDesktopServices::OpenDocument(QWidget*, const QString& path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void TDesktopServices::ShowNotification(const QString& summary, const QString& body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QString entry = QString::fromLatin1(kDesktopId);
    const QVariantMap hints{{QStringLiteral("desktop-entry"), entry}};
    call << QStringLiteral("Kelvaro") << 0u << entry << summary << body
         << QStringList() << hints << -1;
    // Nobody waits for the answer: a desktop without a notification service costs nothing.
    bus.asyncCall(call);
}

}  // namespace kelvaro::app
