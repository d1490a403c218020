#include "app/platform_services.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QUrl>

namespace kelvaro::app {

QStringList TDesktopServices::GetOpenFileNames(QWidget* owner, const QString& initialFolder,
                                               const QString& filter, const QString& selectedFilter)
{
    QString selected = selectedFilter;
    return QFileDialog::getOpenFileNames(owner, QString(), initialFolder, filter, &selected);
}

std::optional<QString> TDesktopServices::BrowseForFolder(QWidget* owner)
{
    const QString folder = QFileDialog::getExistingDirectory(owner, QString(), QString());
    if (folder.isEmpty())
        return std::nullopt;
    return folder;
}

void TDesktopServices::ShowError(QWidget* owner, const QString& text)
{
    QMessageBox::critical(owner, QGuiApplication::applicationDisplayName(), text);
}

bool TDesktopServices::OpenDocument(QWidget*, const QString& path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace kelvaro::app
