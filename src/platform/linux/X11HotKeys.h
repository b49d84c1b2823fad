#pragma once
// Global shortcuts through passive key grabs on the root window.

#include "platform/HotKeyService.h"
#include "platform/linux/X11Connection.h"

#include <QObject>

#include <map>
#include <optional>

class X11HotKeys : public QObject, public HotKeyService {
public:
    explicit X11HotKeys(X11Connection& connection);
    ~X11HotKeys() override;

    void installHandler(Handler onPressed) override;
    std::optional<Ref> registerHotKey(std::uint32_t keyCode, std::uint32_t mods) override;
    void unregisterHotKey(Ref ref) override;
    // nativeKey is the X keycode; the group bits of nativeState pick the layout.
    std::optional<std::uint32_t> keyCodeOf(std::uint32_t nativeKey, std::uint32_t nativeState) override;

protected:
    // While one of our popups or menus holds the keyboard, the passive grab cannot fire;
    // the press then reaches Qt, and is caught here.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Grab {
        unsigned char keycode = 0;
        unsigned int state = 0;
    };
    void onEvent(XEvent& event);
    void ungrab(const Grab& grab);
    void pressed();

    X11Connection& connection_;
    Handler handler_;
    std::map<Ref, Grab> grabs_;
    Ref nextRef_ = 1;
    unsigned char heldKey_ = 0;  // ignores auto-repeat while the combination is held
};
