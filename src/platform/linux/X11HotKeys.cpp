#include "platform/linux/X11HotKeys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace {
// Taken before Xlib defines KeyPress as a macro.
constexpr QEvent::Type kQtKeyPress = QEvent::KeyPress;
}  // namespace

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <X11/Xutil.h>

namespace {

constexpr unsigned int kRelevantState = ControlMask | Mod1Mask | Mod4Mask | ShiftMask;
// NumLock (Mod2) and CapsLock (Lock) must not stop the shortcut.
constexpr unsigned int kIgnoredVariants[] = {0, Mod2Mask, LockMask, Mod2Mask | LockMask};

}  // namespace

X11HotKeys::X11HotKeys(X11Connection& connection)
    : connection_(connection)
{
    Bool supported = False;
    XkbSetDetectableAutoRepeat(connection_.display(), True, &supported);
    connection_.addListener([this](XEvent& event) { onEvent(event); });
    if (qApp)
        qApp->installEventFilter(this);
}

X11HotKeys::~X11HotKeys()
{
    for (const auto& [ref, grab] : grabs_)
        ungrab(grab);
    XFlush(connection_.display());
}

std::optional<unsigned long> X11HotKeys::keysymForKeyCode(std::uint32_t keyCode)
{
    static const std::map<std::uint32_t, unsigned long> keysyms = {
        {0, XK_a}, {11, XK_b}, {8, XK_c}, {2, XK_d}, {14, XK_e}, {3, XK_f}, {5, XK_g}, {4, XK_h},
        {34, XK_i}, {38, XK_j}, {40, XK_k}, {37, XK_l}, {46, XK_m}, {45, XK_n}, {31, XK_o},
        {35, XK_p}, {12, XK_q}, {15, XK_r}, {1, XK_s}, {17, XK_t}, {32, XK_u}, {9, XK_v},
        {13, XK_w}, {7, XK_x}, {16, XK_y}, {6, XK_z},
        {29, XK_0}, {18, XK_1}, {19, XK_2}, {20, XK_3}, {21, XK_4}, {23, XK_5}, {22, XK_6},
        {26, XK_7}, {28, XK_8}, {25, XK_9},
        {49, XK_space}, {36, XK_Return}, {53, XK_Escape}, {48, XK_Tab}, {51, XK_BackSpace},
        {117, XK_Delete}, {123, XK_Left}, {124, XK_Right}, {125, XK_Down}, {126, XK_Up},
        {115, XK_Home}, {119, XK_End}, {116, XK_Page_Up}, {121, XK_Page_Down},
        {27, XK_minus}, {24, XK_equal}, {33, XK_bracketleft}, {30, XK_bracketright},
        {41, XK_semicolon}, {39, XK_apostrophe}, {42, XK_backslash}, {43, XK_comma},
        {47, XK_period}, {44, XK_slash}, {50, XK_grave},
        {122, XK_F1}, {120, XK_F2}, {99, XK_F3}, {118, XK_F4}, {96, XK_F5}, {97, XK_F6},
        {98, XK_F7}, {100, XK_F8}, {101, XK_F9}, {109, XK_F10}, {103, XK_F11}, {111, XK_F12},
    };
    const auto it = keysyms.find(keyCode);
    if (it == keysyms.end())
        return std::nullopt;
    return it->second;
}

unsigned int X11HotKeys::modifierStateForMask(std::uint32_t mods)
{
    unsigned int state = 0;
    if (mods & 0x1000)
        state |= ControlMask;
    if (mods & 0x800)
        state |= Mod1Mask;  // option is Alt
    if (mods & 0x100)
        state |= Mod4Mask;  // command is Super
    if (mods & 0x200)
        state |= ShiftMask;
    return state;
}

void X11HotKeys::installHandler(Handler onPressed)
{
    handler_ = std::move(onPressed);
}

std::optional<HotKeyService::Ref> X11HotKeys::registerHotKey(std::uint32_t keyCode, std::uint32_t mods)
{
    const auto keysym = keysymForKeyCode(keyCode);
    if (!keysym)
        return std::nullopt;
    Display* dpy = connection_.display();
    const KeyCode keycode = XKeysymToKeycode(dpy, *keysym);
    if (keycode == 0)
        return std::nullopt;
    Grab grab{keycode, *keysym, modifierStateForMask(mods)};
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
    KeySym sym = key->nativeVirtualKey();
    // Shift turns z into Z; grabs are kept in the unshifted form.
    KeySym lower = 0;
    KeySym upper = 0;
    XConvertCase(sym, &lower, &upper);
    for (const auto& [ref, grab] : grabs_) {
        if ((grab.keysym == sym || grab.keysym == lower) && state == grab.state) {
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
