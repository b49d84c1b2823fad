#pragma once
// Whole files for the fake system trees and bundles of these tests.

#include <QDir>
#include <QFile>

// Writes the file whole, making its folder first; adds the permissions given.
inline bool writeFile(const QString& path, const QByteArray& bytes, QFileDevice::Permissions extra = {})
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size()
        && file.setPermissions(file.permissions() | extra);
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}
