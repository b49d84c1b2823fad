#include "platform/macos/CarbonHotKeys.h"

#include "system/KeyCodes.h"

// Keeps AssertMacros.h (pulled in by Carbon) from defining check(), verify() and require().
#define __ASSERT_MACROS_DEFINE_VERSIONS_WITHOUT_UNDERSCORES 0
#include <Carbon/Carbon.h>

namespace {

OSStatus onHotKeyPressed(EventHandlerCallRef callRef, EventRef event, void* userData);

}  // namespace

CarbonHotKeys::~CarbonHotKeys()
{
    for (const auto& [ref, hotKey] : hotKeys_)
        UnregisterEventHotKey(static_cast<EventHotKeyRef>(hotKey));
    if (handlerRef_)
        RemoveEventHandler(static_cast<EventHandlerRef>(handlerRef_));
}

void CarbonHotKeys::installHandler(Handler onPressed)
{
    handler_ = std::move(onPressed);
    if (handlerRef_)
        return;
    const EventTypeSpec pressedKey {kEventClassKeyboard, kEventHotKeyPressed};
    EventHandlerRef installed = nullptr;
    if (InstallEventHandler(GetApplicationEventTarget(), &onHotKeyPressed, 1, &pressedKey, this, &installed) == noErr)
        handlerRef_ = installed;
}

std::optional<HotKeyService::Ref> CarbonHotKeys::registerHotKey(std::uint32_t keyCode, std::uint32_t mods)
{
    const Ref ref = nextRef_;
    EventHotKeyRef hotKey = nullptr;
    // Fails when another program holds the combination.
    if (RegisterEventHotKey(keyCode, mods, EventHotKeyID {signature, ref}, GetApplicationEventTarget(), 0, &hotKey) != noErr
        || !hotKey)
        return std::nullopt;
    ++nextRef_;
    hotKeys_[ref] = hotKey;
    return ref;
}

void CarbonHotKeys::unregisterHotKey(Ref ref)
{
    const auto it = hotKeys_.find(ref);
    if (it == hotKeys_.end())
        return;
    UnregisterEventHotKey(static_cast<EventHotKeyRef>(it->second));
    hotKeys_.erase(it);
}

std::optional<std::uint32_t> CarbonHotKeys::keyCodeOf(std::uint32_t nativeKey, std::uint32_t)
{
    if (!KeyCodes::byCode(nativeKey))
        return std::nullopt;
    return nativeKey;
}

void CarbonHotKeys::firePressed()
{
    // Queued: the handler runs after the system's event dispatch, never inside it.
    QMetaObject::invokeMethod(this, [this] {
        if (handler_)
            handler_();
    }, Qt::QueuedConnection);
}

namespace {

OSStatus onHotKeyPressed(EventHandlerCallRef, EventRef, void* userData)
{
    // Only our own hot keys reach the application target's handler for this event kind.
    static_cast<CarbonHotKeys*>(userData)->firePressed();
    return noErr;
}

}  // namespace
