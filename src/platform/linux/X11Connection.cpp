#include "platform/linux/X11Connection.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <atomic>

namespace {

// Xlib's default handler exits the process; a refused grab or a vanished CRTC must not.
std::atomic<int> g_lastError{0};

int recordError(Display*, XErrorEvent* event)
{
    int expected = 0;
    g_lastError.compare_exchange_strong(expected, event->error_code);
    return 0;
}

}  // namespace

std::unique_ptr<X11Connection> X11Connection::open(const char* displayName)
{
    XInitThreads();
    Display* display = XOpenDisplay(displayName);
    if (!display)
        return nullptr;
    XSetErrorHandler(recordError);
    return std::unique_ptr<X11Connection>(new X11Connection(display));
}

X11Connection::X11Connection(Display* display)
    : display_(display)
    , root_(DefaultRootWindow(display))
{
    notifier_ = std::make_unique<QSocketNotifier>(ConnectionNumber(display_), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { dispatchPending(); });
}

X11Connection::~X11Connection()
{
    notifier_.reset();
    if (display_)
        XCloseDisplay(display_);
}

QString X11Connection::displayName() const
{
    return QString::fromLocal8Bit(DisplayString(display_));
}

void X11Connection::addListener(const void* owner, std::function<void(XEvent&)> listener)
{
    listeners_.emplace_back(owner, std::move(listener));
}

void X11Connection::removeListeners(const void* owner)
{
    std::erase_if(listeners_, [owner](const auto& listener) { return listener.first == owner; });
}

void X11Connection::dispatchPending()
{
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        for (auto& [owner, listener] : listeners_)
            listener(event);
    }
}

int X11Connection::syncAndTakeError()
{
    XSync(display_, False);
    return g_lastError.exchange(0);
}

void X11Connection::deliverQueuedLater()
{
    if (XEventsQueued(display_, QueuedAlready) > 0)
        QMetaObject::invokeMethod(this, [this] { dispatchPending(); }, Qt::QueuedConnection);
}
