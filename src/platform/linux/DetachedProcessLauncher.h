#pragma once
// Starts programs detached from this process (they are not ended when it quits).

#include "platform/ProcessLauncher.h"

class DetachedProcessLauncher : public ProcessLauncher {
public:
    bool startDetached(const QString& program, const QStringList& arguments) override;
};
