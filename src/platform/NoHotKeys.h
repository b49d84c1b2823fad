#pragma once
// The shortcut facility of a session that offers none to this program: nothing registers.

#include "platform/HotKeyService.h"

class NoHotKeys : public HotKeyService {
public:
    void installHandler(Handler) override {}
    std::optional<Ref> registerHotKey(std::uint32_t, std::uint32_t) override { return std::nullopt; }
    void unregisterHotKey(Ref) override {}
};
