#include "platform/linux/X11Xwayland.h"

#include "platform/linux/X11Connection.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <cstring>

bool isXwayland(X11Connection& connection)
{
    Display* dpy = connection.display();
    int opcode = 0;
    int event = 0;
    int error = 0;
    if (XQueryExtension(dpy, "XWAYLAND", &opcode, &event, &error))
        return true;
    // Older servers lack the extension; their outputs are still called XWAYLAND0, XWAYLAND1…
    XRRScreenResources* res = XRRGetScreenResourcesCurrent(dpy, connection.root());
    if (!res)
        return false;
    bool xwayland = false;
    for (int o = 0; o < res->noutput && !xwayland; ++o) {
        if (XRROutputInfo* info = XRRGetOutputInfo(dpy, res, res->outputs[o])) {
            xwayland = std::strncmp(info->name, "XWAYLAND", 8) == 0;
            XRRFreeOutputInfo(info);
        }
    }
    XRRFreeScreenResources(res);
    return xwayland;
}
