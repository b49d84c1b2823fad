#pragma once
// Starting a program that outlives this process.

#include <QString>
#include <QStringList>

class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;
    // Starts program with arguments, detached: not waited for, not ended with us.
    // False when it could not be started.
    virtual bool startDetached(const QString& program, const QStringList& arguments) = 0;
};
