#include "platform/macos/IOKitSleepWatcher.h"

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOKitLib.h>
#include <IOKit/IOMessage.h>
#include <IOKit/pwr_mgt/IOPMLib.h>

IOKitSleepWatcher::IOKitSleepWatcher()
{
    IONotificationPortRef port = nullptr;
    io_object_t notifier = IO_OBJECT_NULL;
    const io_connect_t root = IORegisterForSystemPower(this, &port, &IOKitSleepWatcher::powerMessage, &notifier);
    if (root == MACH_PORT_NULL)
        return;
    rootPort_ = root;
    notifyPort_ = port;
    notifier_ = notifier;
    CFRunLoopAddSource(CFRunLoopGetMain(), IONotificationPortGetRunLoopSource(port), kCFRunLoopCommonModes);
}

IOKitSleepWatcher::~IOKitSleepWatcher()
{
    if (!rootPort_)
        return;
    auto* port = static_cast<IONotificationPortRef>(notifyPort_);
    CFRunLoopRemoveSource(CFRunLoopGetMain(), IONotificationPortGetRunLoopSource(port), kCFRunLoopCommonModes);
    io_object_t notifier = notifier_;
    IODeregisterForSystemPower(&notifier);
    IOServiceClose(rootPort_);
    IONotificationPortDestroy(port);
}

void IOKitSleepWatcher::powerMessage(void* refcon, unsigned int, std::uint32_t messageType, void* messageArgument)
{
    auto* self = static_cast<IOKitSleepWatcher*>(refcon);
    switch (messageType) {
    case kIOMessageCanSystemSleep:
    case kIOMessageSystemWillSleep:
        // Unanswered, these hold up sleep for 30 seconds.
        IOAllowPowerChange(self->rootPort_, reinterpret_cast<intptr_t>(messageArgument));
        break;
    case kIOMessageSystemHasPoweredOn:
        QMetaObject::invokeMethod(self, [self] {
            if (self->onWake_)
                self->onWake_();
        }, Qt::QueuedConnection);
        break;
    default:
        break;
    }
}
