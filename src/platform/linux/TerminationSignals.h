#pragma once
// SIGINT, SIGTERM and SIGHUP turned into a call on the main thread, so that they take the
// same quit path as the menu.

#include <QObject>
#include <QSocketNotifier>

#include <functional>
#include <memory>

class TerminationSignals : public QObject {
public:
    explicit TerminationSignals(std::function<void(int signal)> onSignal);
    ~TerminationSignals() override;

private:
    std::function<void(int)> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
};
