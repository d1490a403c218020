#include "app/folder_scan.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QSet>

namespace kelvaro::app {

int TFolderScan::SkippedCount() const
{
    int count = 0;
    for (const int n : skipped)
        count += n;
    return count;
}

TFolderScan ScanFolders(const QStringList& paths, const QStringList& extensions)
{
    QSet<QString> wanted;
    for (const QString& extension : extensions)
        wanted.insert(extension.toLower());
    TFolderScan scan;
    for (const QString& path : paths) {
        if (!QFileInfo(path).isDir()) {
            scan.files << path;
            continue;
        }
        QStringList found;
        QDirIterator it(path, QDir::Files | QDir::Readable,
                        QDirIterator::Subdirectories | QDirIterator::FollowSymlinks);
        while (it.hasNext()) {
            const QString file = it.next();
            const QString extension = it.fileInfo().suffix().toLower();
            if (wanted.contains(extension))
                found << file;
            else
                ++scan.skipped[extension];
        }
        found.sort();
        scan.files << found;
    }
    return scan;
}

}  // namespace kelvaro::app
