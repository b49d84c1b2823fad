#include "support/XTestTools.h"
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

std::map<std::string, GammaRamp> XTestTools::readRamps()
{
    std::map<std::string, GammaRamp> ramps;
    Display* dpy = XOpenDisplay(nullptr);
    XRRScreenResources* res = XRRGetScreenResourcesCurrent(dpy, DefaultRootWindow(dpy));
    for (int c = 0; c < res->ncrtc; ++c) {
        XRRCrtcInfo* crtc = XRRGetCrtcInfo(dpy, res, res->crtcs[c]);
        if (crtc->mode != None && crtc->noutput > 0) {
            XRROutputInfo* out = XRRGetOutputInfo(dpy, res, crtc->outputs[0]);
            XRRCrtcGamma* g = XRRGetCrtcGamma(dpy, res->crtcs[c]);
            ramps[std::string(out->name, static_cast<size_t>(out->nameLen))] = {
                {g->red, g->red + g->size}, {g->green, g->green + g->size}, {g->blue, g->blue + g->size}};
            XRRFreeGamma(g);
            XRRFreeOutputInfo(out);
        }
        XRRFreeCrtcInfo(crtc);
    }
    XRRFreeScreenResources(res);
    XCloseDisplay(dpy);
    return ramps;
}
