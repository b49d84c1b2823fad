#include "system/Autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace {

// The program as one quoted argument of an Exec key: inside quotes a backslash goes before
// ", `, $ and \; the key's own string escaping then doubles every backslash; a literal %
// is %%.
QString execArgument(const QString& program)
{
    QString quoted;
    for (const QChar c : program) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

}  // namespace

QString Autostart::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/autostart/ambrano.desktop");
}

Autostart::Autostart(QString path)
    : path_(std::move(path))
{
}

bool Autostart::enabled() const
{
    return QFileInfo(path_).isFile();
}

bool Autostart::enable(const QString& program)
{
    // A line break or other control character would end the key early.
    if (!QDir::isAbsolutePath(program)
        || std::any_of(program.begin(), program.end(), [](QChar c) { return c.category() == QChar::Other_Control; }))
        return false;
    if (!QDir().mkpath(QFileInfo(path_).absolutePath()))
        return false;
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QString entry = QStringLiteral("[Desktop Entry]\nType=Application\nName=Ambrano\nExec=") + execArgument(program)
        + QStringLiteral("\nIcon=ambrano\nTerminal=false\n");
    file.write(entry.toUtf8());
    return file.commit();
}

bool Autostart::disable()
{
    if (!QFileInfo::exists(path_))
        return true;
    return QFile::remove(path_);
}
