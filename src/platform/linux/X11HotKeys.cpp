#include "platform/linux/X11HotKeys.h"

#include "system/KeyCodes.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace {
// Taken before Xlib defines KeyPress as a macro.
constexpr QEvent::Type kQtKeyPress = QEvent::KeyPress;
}  // namespace

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

namespace {

constexpr unsigned int kRelevantState = ControlMask | Mod1Mask | Mod4Mask | ShiftMask;
// NumLock (Mod2) and CapsLock (Lock) must not stop the shortcut.
constexpr unsigned int kIgnoredVariants[] = {0, Mod2Mask, LockMask, Mod2Mask | LockMask};

// Control/Mod1/Mod4/Shift for the stored mask: option is Alt, command is Super.
unsigned int modifierStateForMask(std::uint32_t mods)
{
    unsigned int state = 0;
    if (mods & HotKeyMask::control)
        state |= ControlMask;
    if (mods & HotKeyMask::option)
        state |= Mod1Mask;
    if (mods & HotKeyMask::command)
        state |= Mod4Mask;
    if (mods & HotKeyMask::shift)
        state |= ShiftMask;
    return state;
}

}  // namespace

X11HotKeys::X11HotKeys(X11Connection& connection)
    : connection_(connection)
{
    Bool supported = False;
    XkbSetDetectableAutoRepeat(connection_.display(), True, &supported);
    connection_.addListener(this, [this](XEvent& event) { onEvent(event); });
    if (qApp)
        qApp->installEventFilter(this);
}

X11HotKeys::~X11HotKeys()
{
    connection_.removeListeners(this);
    for (const auto& [ref, grab] : grabs_)
        ungrab(grab);
    XFlush(connection_.display());
}

std::optional<std::uint32_t> X11HotKeys::keyCodeOf(std::uint32_t nativeKey, std::uint32_t nativeState)
{
    if (nativeKey < 8 || nativeKey > 255)
        return std::nullopt;
    const auto keycode = static_cast<KeyCode>(nativeKey);
    // The layout the key was typed in first, then the first layout (Latin keys of a
    // Cyrillic or Greek layout live there).
    const unsigned int group = (nativeState >> 13) & 3;
    for (unsigned int g : {group, 0u}) {
        const KeySym sym = XkbKeycodeToKeysym(connection_.display(), keycode, static_cast<int>(g), 0);
        if (sym == NoSymbol)
            continue;
        if (const auto key = KeyCodes::byKeysym(static_cast<std::uint32_t>(sym)))
            return key->code;
    }
    return std::nullopt;
}

void X11HotKeys::installHandler(Handler onPressed)
{
    handler_ = std::move(onPressed);
}

std::optional<HotKeyService::Ref> X11HotKeys::registerHotKey(std::uint32_t keyCode, std::uint32_t mods)
{
    const auto key = KeyCodes::byCode(keyCode);
    if (!key)
        return std::nullopt;
    Display* dpy = connection_.display();
    const KeyCode keycode = XKeysymToKeycode(dpy, key->keysym);
    if (keycode == 0)
        return std::nullopt;
    Grab grab{keycode, modifierStateForMask(mods)};
    connection_.syncAndTakeError();
    for (unsigned int variant : kIgnoredVariants)
        XGrabKey(dpy, keycode, grab.state | variant, connection_.root(), False, GrabModeAsync, GrabModeAsync);
    if (connection_.syncAndTakeError() != 0) {
        // Another program holds the combination: take back what we got.
        ungrab(grab);
        connection_.syncAndTakeError();
        connection_.deliverQueuedLater();
        return std::nullopt;
    }
    connection_.deliverQueuedLater();
    const Ref ref = nextRef_++;
    grabs_.emplace(ref, grab);
    return ref;
}

void X11HotKeys::unregisterHotKey(Ref ref)
{
    const auto it = grabs_.find(ref);
    if (it == grabs_.end())
        return;
    ungrab(it->second);
    grabs_.erase(it);
    XFlush(connection_.display());
}

void X11HotKeys::ungrab(const Grab& grab)
{
    for (unsigned int variant : kIgnoredVariants)
        XUngrabKey(connection_.display(), grab.keycode, grab.state | variant, connection_.root());
}

void X11HotKeys::onEvent(XEvent& event)
{
    if (event.type == KeyRelease) {
        if (event.xkey.keycode == heldKey_)
            heldKey_ = 0;
        return;
    }
    if (event.type != KeyPress)
        return;
    for (const auto& [ref, grab] : grabs_) {
        if (grab.keycode == event.xkey.keycode && (event.xkey.state & kRelevantState) == grab.state) {
            if (heldKey_ == grab.keycode)
                return;  // auto-repeat
            heldKey_ = grab.keycode;
            pressed();
            return;
        }
    }
}

bool X11HotKeys::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != kQtKeyPress || grabs_.empty())
        return QObject::eventFilter(watched, event);
    if (!QApplication::activePopupWidget())
        return QObject::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    const quint32 state = key->nativeModifiers() & kRelevantState;
    // The hardware key, whatever character Shift or the layout makes of it.
    const quint32 keycode = key->nativeScanCode();
    for (const auto& [ref, grab] : grabs_) {
        if (grab.keycode == keycode && state == grab.state) {
            if (!key->isAutoRepeat())
                pressed();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void X11HotKeys::pressed()
{
    if (handler_)
        handler_();
}
