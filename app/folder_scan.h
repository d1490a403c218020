#pragma once
// What a dropped or added folder stands for: the files beneath it that Kelvaro reads, in name
// order, and how many others were passed over, by extension, so that the user can be told.

#include <QMap>
#include <QString>
#include <QStringList>

namespace kelvaro::app {

struct TFolderScan {
    QStringList files;
    // Files passed over, by their lower-case extension ("" for none).
    QMap<QString, int> skipped;
    int SkippedCount() const;
};

// Files stay as they are; each folder gives the readable files beneath it whose extension
// (any letter case) is one of `extensions` ("mp3", ...).
TFolderScan ScanFolders(const QStringList& paths, const QStringList& extensions);

}  // namespace kelvaro::app
