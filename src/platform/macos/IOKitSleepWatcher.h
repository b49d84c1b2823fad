#pragma once
// Wake from sleep through IOKit's system power notifications on the main run loop. Sleep
// requests are answered at once, so the system never waits for us before sleeping.

#include "platform/SleepWatcher.h"

#include <QObject>

#include <cstdint>

class IOKitSleepWatcher : public QObject, public SleepWatcher {
public:
    IOKitSleepWatcher();
    ~IOKitSleepWatcher() override;

    void setOnWake(std::function<void()> onWake) override { onWake_ = std::move(onWake); }
    bool isListening() const { return rootPort_ != 0; }

private:
    static void powerMessage(void* refcon, unsigned int service, std::uint32_t messageType, void* messageArgument);

    std::function<void()> onWake_;
    unsigned int rootPort_ = 0;        // io_connect_t of the root power domain
    void* notifyPort_ = nullptr;       // IONotificationPortRef
    unsigned int notifier_ = 0;        // io_object_t of the registration
};
