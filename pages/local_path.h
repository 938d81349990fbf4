#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <string>

// Paths travel below the front end as the file system's own bytes; the pages
// and dialogs show and take them as text. These two are the only crossing,
// so a name in any encoding the file system holds comes back unchanged.
inline QString DisplayPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

inline std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }
