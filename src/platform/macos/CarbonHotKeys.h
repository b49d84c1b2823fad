#pragma once
// Global shortcuts through the Carbon Event Manager's hot keys. The stored key codes and masks
// are already the ones it takes, so they pass through unchanged.

#include "platform/HotKeyService.h"

#include <QObject>

#include <map>

class CarbonHotKeys : public QObject, public HotKeyService {
public:
    CarbonHotKeys() = default;
    ~CarbonHotKeys() override;

    void installHandler(Handler onPressed) override;
    std::optional<Ref> registerHotKey(std::uint32_t keyCode, std::uint32_t mods) override;
    void unregisterHotKey(Ref ref) override;
    // A key event's native key is already the Mac virtual key code: kept when a shortcut can
    // use that key, whatever the modifiers.
    std::optional<std::uint32_t> keyCodeOf(std::uint32_t nativeKey, std::uint32_t nativeState) override;

    // The four-character code our hot keys carry ("VSK1").
    static constexpr std::uint32_t signature = ('V' << 24) | ('S' << 16) | ('K' << 8) | '1';

    // Called by the event handler for each press.
    void firePressed();

private:
    Handler handler_;
    void* handlerRef_ = nullptr;       // EventHandlerRef, once installed
    std::map<Ref, void*> hotKeys_;     // EventHotKeyRef of each registration
    Ref nextRef_ = 1;
};
