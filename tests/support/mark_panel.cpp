// Marks an output of the X server as a built-in panel (RandR "ConnectorType" = "Panel"), as a
// laptop's driver does, so the app treats it as one. Usage: mark_panel OUTPUT
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: mark_panel OUTPUT\n");
        return 2;
    }
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        std::fprintf(stderr, "mark_panel: cannot open the display\n");
        return 1;
    }
    XRRScreenResources* res = XRRGetScreenResourcesCurrent(dpy, DefaultRootWindow(dpy));
    bool found = false;
    for (int i = 0; res && i < res->noutput && !found; ++i) {
        XRROutputInfo* info = XRRGetOutputInfo(dpy, res, res->outputs[i]);
        if (info && std::strcmp(info->name, argv[1]) == 0) {
            const Atom property = XInternAtom(dpy, "ConnectorType", False);
            const long panel = static_cast<long>(XInternAtom(dpy, "Panel", False));
            XRRChangeOutputProperty(dpy, res->outputs[i], property, XA_ATOM, 32, PropModeReplace,
                reinterpret_cast<const unsigned char*>(&panel), 1);
            XSync(dpy, False);
            found = true;
        }
        if (info)
            XRRFreeOutputInfo(info);
    }
    if (res)
        XRRFreeScreenResources(res);
    XCloseDisplay(dpy);
    if (!found)
        std::fprintf(stderr, "mark_panel: no output %s\n", argv[1]);
    return found ? 0 : 1;
}
