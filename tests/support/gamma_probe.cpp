// Reads the gamma ramps back from the X server, one line per active CRTC:
//   <output> <size> <red[last]> <green[last]> <blue[last]> <identity 0|1>
// last entries are fractions of full scale.
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <cstdio>
#include <initializer_list>

int main()
{
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        std::fprintf(stderr, "gamma_probe: no display\n");
        return 2;
    }
    XRRScreenResources* res = XRRGetScreenResourcesCurrent(dpy, DefaultRootWindow(dpy));
    for (int c = 0; res && c < res->ncrtc; ++c) {
        XRRCrtcInfo* crtc = XRRGetCrtcInfo(dpy, res, res->crtcs[c]);
        XRRCrtcGamma* g = crtc && crtc->mode != None && crtc->noutput > 0 ? XRRGetCrtcGamma(dpy, res->crtcs[c]) : nullptr;
        if (g) {  // none also while a CRTC changes under us
            XRROutputInfo* out = XRRGetOutputInfo(dpy, res, crtc->outputs[0]);
            const int n = g->size;
            bool identity = n > 1;
            for (int i = 0; i < n; ++i) {
                const double expect = i * 65535.0 / (n - 1);
                for (unsigned short v : {g->red[i], g->green[i], g->blue[i]})
                    identity = identity && v + 257.0 >= expect && v - 257.0 <= expect;
            }
            std::printf("%s %d %.4f %.4f %.4f %d\n", out ? out->name : "?", n, n ? g->red[n - 1] / 65535.0 : 0.0,
                n ? g->green[n - 1] / 65535.0 : 0.0, n ? g->blue[n - 1] / 65535.0 : 0.0, identity ? 1 : 0);
            XRRFreeGamma(g);
            if (out)
                XRRFreeOutputInfo(out);
        }
        if (crtc)
            XRRFreeCrtcInfo(crtc);
    }
    if (res)
        XRRFreeScreenResources(res);
    XCloseDisplay(dpy);
}
