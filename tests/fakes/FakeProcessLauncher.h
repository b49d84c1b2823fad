#pragma once
// Records the programs it is asked to start instead of starting them.

#include "platform/ProcessLauncher.h"

#include <QList>
#include <QMutex>

class FakeProcessLauncher : public ProcessLauncher {
public:
    struct Call {
        QString program;
        QStringList arguments;
    };
    bool refuse = false;

    bool startDetached(const QString& program, const QStringList& arguments) override
    {
        QMutexLocker lock(&mutex_);
        calls_.append({program, arguments});
        return !refuse;
    }
    QList<Call> calls() const
    {
        QMutexLocker lock(&mutex_);
        return calls_;
    }

private:
    mutable QMutex mutex_;
    QList<Call> calls_;
};
