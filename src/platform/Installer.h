#pragma once
// Puts a verified update in place of the running program.

#include <QByteArray>
#include <QString>

class Installer {
public:
    virtual ~Installer() = default;
    // Unpacks the archive of `version`, checks the bundle it holds and starts the swap, which
    // waits for this process to end. False when it stopped before starting the swap: the
    // running installation is then untouched.
    virtual bool install(const QByteArray& archive, const QString& version) = 0;
};
