// Watches the first active CRTC's gamma ramp from its own X connection, to time what other
// processes do to it. Times are CLOCK_MONOTONIC milliseconds, so they line up with the
// timestamps of any other process on the machine.
//
//   gamma_watch reset
//       identity ramps on every active CRTC
//   gamma_watch exec-ramp [--runs N] -- CMD...
//       per run: identity first, then ms from fork to the first ramp that differs
//   gamma_watch exec-window CLASS [--runs N] -- CMD...
//       per run: ms from fork to a viewable window of WM_CLASS CLASS (a docked tray icon);
//       the program is then stopped with SIGTERM and waited for
//   gamma_watch hotkey [--presses N] [--via xdotool|xdotool-nodelay|xtest] [--gap-ms G]
//       per press of Ctrl+Alt+Super+Z: "<total> <key>": ms from starting xdotool (or sending
//       the XTest events) to the first ramp that differs, and ms from the server taking the
//       Z key press (seen through the RECORD extension) to that ramp. xdotool waits 6 ms after
//       each key it presses unless given --delay 0 (xdotool-nodelay).
//   gamma_watch reset-recover [--resets N] [--gap-max-ms G] [--toggle]
//       per reset: after a random pause of 0..G ms, identity ramps on every active CRTC from
//       this client, then ms until the first CRTC's ramp differs again (the program that owns
//       it put its own back), or "timeout" after 12 s. --toggle first presses Ctrl+Alt+Super+Z
//       twice (filter off and on again through XTest), so that no reset counts towards a fight
//   gamma_watch record SECONDS [-- CMD...]
//       every distinct ramp seen for SECONDS: "<monotonic ms> <red> <green> <blue>" (last
//       entries as fractions); with CMD, "exec <ms>" and "pid <pid>" first and CMD is
//       started once the current ramp is known (and left running)
//   gamma_watch requests SECONDS
//       every X request of every client for SECONDS, and every mouse button the server takes:
//       "ext <name> <major>" for RANDR and MIT-SHM first, then "<monotonic ms> req <client's
//       resource-id base> <major> <minor> <width> <height>" (the size of an image put, else
//       0 0) and "<monotonic ms> button <1 press|0 release>"
// --poll-us P sets the pause between two reads (default 200 µs).
#include "MonotonicClock.h"
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/record.h>
#include <X11/extensions/Xrandr.h>
#include <X11/keysym.h>

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Ramp {
    std::vector<unsigned short> red, green, blue;
    bool operator==(const Ramp&) const = default;
};

Display* dpy = nullptr;
RRCrtc crtc = 0;
long pollNs = 200000;
// Called before each read while polling.
void (*beforeRead)() = nullptr;

void pause(long ns)
{
    timespec ts{ns / 1000000000, ns % 1000000000};
    nanosleep(&ts, nullptr);
}

[[noreturn]] void die(const char* what)
{
    std::fprintf(stderr, "gamma_watch: %s\n", what);
    std::exit(2);
}

std::vector<RRCrtc> activeCrtcs()
{
    std::vector<RRCrtc> crtcs;
    XRRScreenResources* res = XRRGetScreenResourcesCurrent(dpy, DefaultRootWindow(dpy));
    for (int c = 0; res && c < res->ncrtc; ++c) {
        XRRCrtcInfo* info = XRRGetCrtcInfo(dpy, res, res->crtcs[c]);
        if (info && info->mode != None && info->noutput > 0)
            crtcs.push_back(res->crtcs[c]);
        if (info)
            XRRFreeCrtcInfo(info);
    }
    if (res)
        XRRFreeScreenResources(res);
    return crtcs;
}

Ramp read(RRCrtc which)
{
    Ramp ramp;
    XRRCrtcGamma* g = XRRGetCrtcGamma(dpy, which);
    if (!g)
        die("cannot read the gamma ramp");
    ramp.red.assign(g->red, g->red + g->size);
    ramp.green.assign(g->green, g->green + g->size);
    ramp.blue.assign(g->blue, g->blue + g->size);
    XRRFreeGamma(g);
    return ramp;
}

void resetAll()
{
    for (RRCrtc c : activeCrtcs()) {
        const int n = XRRGetCrtcGammaSize(dpy, c);
        XRRCrtcGamma* g = XRRAllocGamma(n);
        for (int i = 0; i < n; ++i)
            g->red[i] = g->green[i] = g->blue[i] = static_cast<unsigned short>(n > 1 ? i * 65535 / (n - 1) : 0);
        XRRSetCrtcGamma(dpy, c, g);
        XRRFreeGamma(g);
    }
    XSync(dpy, False);
}

// Polls until the ramp differs from `from`; returns the time it was seen, or -1 on timeout.
double waitForChange(const Ramp& from, double deadlineMs, Ramp* seen = nullptr)
{
    while (nowMs() < deadlineMs) {
        if (beforeRead)
            beforeRead();
        Ramp now = read(crtc);
        if (!(now == from)) {
            const double t = nowMs();
            if (seen)
                *seen = std::move(now);
            return t;
        }
        pause(pollNs);
    }
    return -1;
}

pid_t spawn(char** argv)
{
    const pid_t pid = fork();
    if (pid < 0)
        die("fork failed");
    if (pid == 0) {
        execvp(argv[0], argv);
        std::perror("gamma_watch: exec");
        _exit(127);
    }
    return pid;
}

bool waitExit(pid_t pid, double timeoutMs)
{
    const double deadline = nowMs() + timeoutMs;
    while (nowMs() < deadline) {
        int status = 0;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid || r < 0)
            return true;
        pause(1000000);
    }
    return false;
}

void stop(pid_t pid)
{
    kill(pid, SIGTERM);
    if (!waitExit(pid, 5000)) {
        kill(pid, SIGKILL);
        waitExit(pid, 5000);
    }
}

bool hasClass(Window w, const char* name)
{
    XClassHint hint{};
    if (!XGetClassHint(dpy, w, &hint))
        return false;
    const bool match = (hint.res_name && strcasecmp(hint.res_name, name) == 0)
        || (hint.res_class && strcasecmp(hint.res_class, name) == 0);
    if (hint.res_name)
        XFree(hint.res_name);
    if (hint.res_class)
        XFree(hint.res_class);
    return match;
}

bool viewable(Window w)
{
    XWindowAttributes attrs{};
    return XGetWindowAttributes(dpy, w, &attrs) && attrs.map_state == IsViewable;
}

// Xlib reports windows that vanish between two requests; those are not errors here.
int ignoreErrors(Display*, XErrorEvent*) { return 0; }

// A docked tray icon is reparented away from the root window and then shown: wait for a
// ReparentNotify of a window of that class, then for it to become viewable.
double waitForDockedWindow(const char* cls, double deadlineMs)
{
    Window candidate = None;
    while (nowMs() < deadlineMs) {
        while (XPending(dpy) > 0) {
            XEvent ev;
            XNextEvent(dpy, &ev);
            if (ev.type == ReparentNotify && ev.xreparent.parent != DefaultRootWindow(dpy)
                && hasClass(ev.xreparent.window, cls))
                candidate = ev.xreparent.window;
        }
        if (candidate != None && viewable(candidate))
            return nowMs();
        pause(candidate != None ? pollNs : 1000000);
    }
    return -1;
}

void pressHotkeyXTest(bool down)
{
    const KeySym order[] = {XK_Control_L, XK_Alt_L, XK_Super_L, XK_z};
    if (down) {
        for (KeySym sym : order)
            XTestFakeKeyEvent(dpy, XKeysymToKeycode(dpy, sym), True, CurrentTime);
    } else {
        for (int i = 3; i >= 0; --i)
            XTestFakeKeyEvent(dpy, XKeysymToKeycode(dpy, order[i]), False, CurrentTime);
    }
    XFlush(dpy);
}

// Key presses as the server processes them, from a RECORD context on a second connection.
Display* recordDpy = nullptr;
KeyCode recordKey = 0;
double keySeenMs = -1;

void onRecorded(XPointer, XRecordInterceptData* data)
{
    if (data->category == XRecordFromServer && data->data_len > 0) {
        const unsigned char type = data->data[0] & 0x7f;
        if (type == KeyPress && data->data[1] == recordKey && keySeenMs < 0)
            keySeenMs = nowMs();
    }
    XRecordFreeData(data);
}

void readRecorded()
{
    XRecordProcessReplies(recordDpy);
}

bool startRecording(KeyCode key)
{
    int major = 0;
    int minor = 0;
    if (!XRecordQueryVersion(dpy, &major, &minor))
        return false;
    recordDpy = XOpenDisplay(nullptr);
    if (!recordDpy)
        return false;
    recordKey = key;
    XRecordRange* range = XRecordAllocRange();
    range->device_events.first = KeyPress;
    range->device_events.last = KeyPress;
    XRecordClientSpec clients = XRecordAllClients;
    const XRecordContext context = XRecordCreateContext(dpy, 0, &clients, 1, &range, 1);
    XFree(range);
    XSync(dpy, False);
    if (!context || !XRecordEnableContextAsync(recordDpy, context, onRecorded, nullptr))
        return false;
    beforeRead = readRecorded;
    return true;
}

// --- reset-recover --------------------------------------------------------------------------

// Every mode watches the first active CRTC of the display it is given.
void openDisplayAndFirstCrtc()
{
    dpy = XOpenDisplay(nullptr);
    if (!dpy)
        die("no display");
    XSetErrorHandler(ignoreErrors);
    const std::vector<RRCrtc> crtcs = activeCrtcs();
    if (crtcs.empty())
        die("no active CRTC");
    crtc = crtcs.front();
    setvbuf(stdout, nullptr, _IOLBF, 0);
}

void pressHotkeyAndWait()
{
    const Ramp before = read(crtc);
    pressHotkeyXTest(true);
    pressHotkeyXTest(false);
    waitForChange(before, nowMs() + 3000);
}

int resetRecover(int argc, char** argv)
{
    int resets = 20;
    int gapMaxMs = 2500;
    bool toggle = false;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--toggle")
            toggle = true;
        else if (arg == "--resets" && i + 1 < argc)
            resets = std::atoi(argv[++i]);
        else if (arg == "--gap-max-ms" && i + 1 < argc)
            gapMaxMs = std::max(1, std::atoi(argv[++i]));
        else
            return 2;
    }
    openDisplayAndFirstCrtc();
    srand(static_cast<unsigned>(nowMs()));
    for (int r = 0; r < resets; ++r) {
        if (toggle) {
            pressHotkeyAndWait();  // off: the originals
            pressHotkeyAndWait();  // on: the filter, and a fresh count of resets
        }
        pause(static_cast<long>(rand() % gapMaxMs) * 1000000L);
        resetAll();
        const double t0 = nowMs();
        // What resetAll wrote, not a read: the owner may already have put its ramps back.
        Ramp identity;
        const int n = XRRGetCrtcGammaSize(dpy, crtc);
        for (int k = 0; k < n; ++k) {
            const auto v = static_cast<unsigned short>(n > 1 ? k * 65535 / (n - 1) : 0);
            identity.red.push_back(v);
            identity.green.push_back(v);
            identity.blue.push_back(v);
        }
        const double t1 = waitForChange(identity, t0 + 12000);
        if (t1 < 0)
            std::printf("timeout\n");
        else
            std::printf("%.3f\n", t1 - t0);
    }
    return 0;
}

// Every request and every mouse button, for `requests`.
struct Seen {
    double ms;
    unsigned long base;
    int major;
    int minor;
    int width;
    int height;
};
std::vector<Seen> requestsSeen;
std::vector<std::pair<double, int>> buttonsSeen;
int shmMajor = -1;

unsigned readShort(const unsigned char* data, int at)
{
    return data[at] | (data[at + 1] << 8);
}

void onRequest(XPointer, XRecordInterceptData* data)
{
    if (data->category == XRecordFromClient && data->data_len > 0) {
        const unsigned char* bytes = data->data;
        const int major = bytes[0];
        const int minor = major >= 128 ? bytes[1] : 0;
        int w = 0;
        int h = 0;
        const size_t length = data->data_len * 4u;
        if (major == 72 && length >= 16) {  // PutImage
            w = readShort(bytes, 12);
            h = readShort(bytes, 14);
        } else if (major == shmMajor && minor == 3 && length >= 24) {  // ShmPutImage: source size
            w = readShort(bytes, 20);
            h = readShort(bytes, 22);
        }
        requestsSeen.push_back({nowMs(), data->id_base, major, minor, w, h});
    } else if (data->category == XRecordFromServer && data->data_len > 0) {
        const unsigned char type = data->data[0] & 0x7f;
        if (type == ButtonPress || type == ButtonRelease)
            buttonsSeen.emplace_back(nowMs(), type == ButtonPress ? 1 : 0);
    }
    XRecordFreeData(data);
}

int recordRequests(double seconds)
{
    int major = 0;
    int minor = 0;
    if (!XRecordQueryVersion(dpy, &major, &minor))
        die("no RECORD extension");
    for (const char* name : {"RANDR", "MIT-SHM"}) {
        int opcode = 0;
        int event = 0;
        int error = 0;
        if (XQueryExtension(dpy, name, &opcode, &event, &error)) {
            std::printf("ext %s %d\n", name, opcode);
            if (std::strcmp(name, "MIT-SHM") == 0)
                shmMajor = opcode;
        }
    }
    XRecordRange* requests = XRecordAllocRange();
    requests->core_requests.first = 1;
    requests->core_requests.last = 127;
    requests->ext_requests.ext_major.first = 128;
    requests->ext_requests.ext_major.last = 255;
    requests->ext_requests.ext_minor.first = 0;
    requests->ext_requests.ext_minor.last = 255;
    XRecordRange* buttons = XRecordAllocRange();
    buttons->device_events.first = ButtonPress;
    buttons->device_events.last = ButtonRelease;
    XRecordRange* ranges[] = {requests, buttons};
    XRecordClientSpec clients = XRecordAllClients;
    const XRecordContext context = XRecordCreateContext(dpy, 0, &clients, 1, ranges, 2);
    XFree(requests);
    XFree(buttons);
    XSync(dpy, False);
    Display* own = XOpenDisplay(nullptr);
    if (!context || !own || !XRecordEnableContextAsync(own, context, onRequest, nullptr))
        die("cannot record");
    std::printf("start %.3f\n", nowMs());
    std::fflush(stdout);
    const double end = nowMs() + seconds * 1000;
    while (nowMs() < end) {
        XRecordProcessReplies(own);
        pause(pollNs);
    }
    for (const Seen& r : requestsSeen)
        std::printf("%.3f req %lu %d %d %d %d\n", r.ms, r.base, r.major, r.minor, r.width, r.height);
    for (const auto& [ms, press] : buttonsSeen)
        std::printf("%.3f button %d\n", ms, press);
    return 0;
}

int usage()
{
    std::fprintf(stderr,
        "usage: gamma_watch [--poll-us P] reset | exec-ramp [--runs N] -- CMD... |\n"
        "       exec-window CLASS [--runs N] -- CMD... |\n"
        "       hotkey [--presses N] [--via xdotool|xdotool-nodelay|xtest] [--gap-ms G] | record SECONDS [-- CMD...] |\n"
        "       requests SECONDS\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    int i = 1;
    if (i + 1 < argc && std::strcmp(argv[i], "--poll-us") == 0) {
        pollNs = std::atol(argv[i + 1]) * 1000L;
        i += 2;
    }
    if (i >= argc)
        return usage();
    const std::string mode = argv[i++];
    if (mode == "reset-recover")
        return resetRecover(argc - i, argv + i) == 2 ? usage() : 0;
    std::string positional;
    if ((mode == "exec-window" || mode == "record") && i < argc)
        positional = argv[i++];
    if (mode == "requests" && i < argc)
        positional = argv[i++];
    int runs = 1;
    std::string via = "xdotool";
    int gapMs = 60;
    char** command = nullptr;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            command = argv + i + 1;
            break;
        }
        if (i + 1 >= argc)
            return usage();
        if (arg == "--runs" || arg == "--presses")
            runs = std::atoi(argv[++i]);
        else if (arg == "--via")
            via = argv[++i];
        else if (arg == "--gap-ms")
            gapMs = std::atoi(argv[++i]);
        else
            return usage();
    }
    if (command && !command[0])
        return usage();

    openDisplayAndFirstCrtc();

    if (mode == "reset") {
        resetAll();
        return 0;
    }

    if (mode == "requests") {
        if (std::atof(positional.c_str()) <= 0)
            return usage();
        return recordRequests(std::atof(positional.c_str()));
    }

    if (mode == "exec-ramp") {
        if (!command)
            return usage();
        for (int run = 0; run < runs; ++run) {
            resetAll();
            const Ramp before = read(crtc);
            const double t0 = nowMs();
            const pid_t pid = spawn(command);
            const double t1 = waitForChange(before, t0 + 10000);
            if (!waitExit(pid, 10000))
                stop(pid);  // a one-shot program that did not end
            if (t1 < 0)
                std::printf("timeout\n");
            else
                std::printf("%.3f\n", t1 - t0);
            pause(200000000);
        }
        resetAll();
        return 0;
    }

    if (mode == "exec-window") {
        if (!command || positional.empty())
            return usage();
        XSelectInput(dpy, DefaultRootWindow(dpy), SubstructureNotifyMask);
        for (int run = 0; run < runs; ++run) {
            XSync(dpy, True);  // forget the events of earlier runs
            const double t0 = nowMs();
            const pid_t pid = spawn(command);
            const double t1 = waitForDockedWindow(positional.c_str(), t0 + 10000);
            if (t1 < 0)
                std::printf("timeout\n");
            else
                std::printf("%.3f\n", t1 - t0);
            stop(pid);
            pause(500000000);  // let the tray drop the socket before the next run
        }
        return 0;
    }

    if (mode == "hotkey") {
        static char* xdotool[] = {const_cast<char*>("xdotool"), const_cast<char*>("key"),
            const_cast<char*>("ctrl+alt+super+z"), nullptr};
        static char* xdotoolNoDelay[] = {const_cast<char*>("xdotool"), const_cast<char*>("key"),
            const_cast<char*>("--delay"), const_cast<char*>("0"), const_cast<char*>("ctrl+alt+super+z"), nullptr};
        const bool recording = startRecording(XKeysymToKeycode(dpy, XK_z));
        if (!recording)
            std::fprintf(stderr, "gamma_watch: no RECORD extension; key times unknown\n");
        for (int press = 0; press < runs; ++press) {
            const Ramp before = read(crtc);
            keySeenMs = -1;
            double t0 = 0;
            pid_t pid = -1;
            if (via == "xtest") {
                t0 = nowMs();
                pressHotkeyXTest(true);
            } else {
                t0 = nowMs();
                pid = spawn(via == "xdotool-nodelay" ? xdotoolNoDelay : xdotool);
            }
            const double t1 = waitForChange(before, t0 + 3000);
            if (via == "xtest")
                pressHotkeyXTest(false);
            else
                waitExit(pid, 5000);
            // The key's record normally arrives before the ramp; give a late one a moment.
            for (int wait = 0; recording && t1 >= 0 && keySeenMs < 0 && wait < 200; ++wait) {
                readRecorded();
                pause(250000);
            }
            if (t1 < 0)
                std::printf("timeout\n");
            else if (keySeenMs < 0)
                std::printf("%.3f -\n", t1 - t0);
            else
                std::printf("%.3f %.3f\n", t1 - t0, std::max(0.0, t1 - keySeenMs));
            pause(gapMs * 1000000L);
        }
        return 0;
    }

    if (mode == "record") {
        const double seconds = std::atof(positional.c_str());
        if (seconds <= 0)
            return usage();
        Ramp last = read(crtc);
        const double t0 = nowMs();
        if (command) {
            const pid_t pid = spawn(command);
            std::printf("exec %.3f\npid %d\n", t0, static_cast<int>(pid));
        }
        std::vector<std::pair<double, Ramp>> seen;
        const double end = t0 + seconds * 1000;
        for (;;) {
            Ramp now;
            const double t = waitForChange(last, end, &now);
            if (t < 0)
                break;
            seen.emplace_back(t, now);
            last = std::move(now);
        }
        for (const auto& [t, ramp] : seen) {
            const size_t n = ramp.red.size();
            std::printf("%.3f %.4f %.4f %.4f\n", t, ramp.red[n - 1] / 65535.0, ramp.green[n - 1] / 65535.0,
                ramp.blue[n - 1] / 65535.0);
        }
        return 0;
    }
    return usage();
}
