#include "platform/macos/QuartzDisplayServices.h"

#include <CoreGraphics/CoreGraphics.h>

#include <algorithm>

QuartzDisplayServices::~QuartzDisplayServices()
{
    if (registered_)
        CGDisplayRemoveReconfigurationCallback(&QuartzDisplayServices::reconfigured, this);
}

std::vector<DisplayID> QuartzDisplayServices::activeDisplays()
{
    std::uint32_t count = 0;
    if (CGGetActiveDisplayList(0, nullptr, &count) != kCGErrorSuccess || count == 0)
        return {};
    std::vector<DisplayID> displays(count);
    if (CGGetActiveDisplayList(count, displays.data(), &count) != kCGErrorSuccess)
        return {};
    // A display may have gone between the two calls.
    displays.resize(std::min<std::size_t>(count, displays.size()));
    return displays;
}

GammaResult QuartzDisplayServices::setTransferTables(DisplayID display, const TransferTables& tables)
{
    const CGError status = CGSetDisplayTransferByTable(display, TransferTables::size,
        tables.red.data(), tables.green.data(), tables.blue.data());
    return status == kCGErrorSuccess ? GammaResult::applied : GammaResult::unsupported;
}

void QuartzDisplayServices::restoreColorProfiles()
{
    CGDisplayRestoreColorSyncSettings();
}

void QuartzDisplayServices::registerReconfigurationCallback(ReconfigurationCallback callback)
{
    callback_ = std::move(callback);
    if (!registered_)
        registered_ = CGDisplayRegisterReconfigurationCallback(&QuartzDisplayServices::reconfigured, this) == kCGErrorSuccess;
}

void QuartzDisplayServices::reconfigured(std::uint32_t display, std::uint32_t flags, void* userInfo)
{
    // Each change is announced twice; before it happens there is nothing to re-apply yet.
    if (flags & kCGDisplayBeginConfigurationFlag)
        return;
    auto* self = static_cast<QuartzDisplayServices*>(userInfo);
    // Queued, so the engine never runs inside the window server's notification.
    QMetaObject::invokeMethod(self, [self, display] {
        if (self->callback_)
            self->callback_(display);
    }, Qt::QueuedConnection);
}

bool QuartzDisplayServices::isBuiltin(DisplayID display)
{
    return CGDisplayIsBuiltin(display) != 0;
}

std::uint32_t QuartzDisplayServices::pixelsWide(DisplayID display)
{
    return static_cast<std::uint32_t>(CGDisplayPixelsWide(display));
}

std::uint32_t QuartzDisplayServices::pixelsHigh(DisplayID display)
{
    return static_cast<std::uint32_t>(CGDisplayPixelsHigh(display));
}
