#pragma once
// Our own Xlib connection for gamma ramps, RandR events and key grabs. Its events are
// read on the main thread whenever the socket has data.

#include <QObject>
#include <QSocketNotifier>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

// Xlib's types, declared without its macros (which clash with Qt's names).
typedef struct _XDisplay Display;
typedef union _XEvent XEvent;

class X11Connection : public QObject {
public:
    // Absent when no X display can be opened.
    static std::unique_ptr<X11Connection> open(const char* displayName = nullptr);
    ~X11Connection() override;

    Display* display() const { return display_; }
    unsigned long root() const { return root_; }
    QString displayName() const;

    // Every event read from the connection goes to every listener. An owner that goes before
    // the connection removes its listeners.
    void addListener(const void* owner, std::function<void(XEvent&)> listener);
    void removeListeners(const void* owner);
    // Reads and dispatches whatever has arrived, without waiting.
    void dispatchPending();
    // Round trip; returns the first X error raised since the last call (0 = none).
    int syncAndTakeError();
    // A round trip may have pulled events into Xlib's queue where the socket notifier cannot
    // see them; call after each operation so they are still delivered.
    void deliverQueuedLater();

private:
    explicit X11Connection(Display* display);

    Display* display_ = nullptr;
    unsigned long root_ = 0;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::vector<std::pair<const void*, std::function<void(XEvent&)>>> listeners_;
};
