#pragma once
// File names between Qt's text and the bytes the converter and the file system use.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <string>

namespace kelvaro::app {

inline std::string Native(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

inline QString FromNative(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

}  // namespace kelvaro::app
