// Reads the gamma ramps back from the X server, one line per active CRTC:
//   <output> <size> <red[last]> <green[last]> <blue[last]> <identity 0|1>
// last entries are fractions of full scale. With --full, every entry follows on the line.
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

int main(int argc, char** argv)
{
    const bool full = argc > 1 && std::strcmp(argv[1], "--full") == 0;
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        std::fprintf(stderr, "gamma_probe: no display\n");
        return 2;
    }
    XRRScreenResources* res = XRRGetScreenResourcesCurrent(dpy, DefaultRootWindow(dpy));
    for (int c = 0; res && c < res->ncrtc; ++c) {
        XRRCrtcInfo* crtc = XRRGetCrtcInfo(dpy, res, res->crtcs[c]);
        if (!crtc || crtc->mode == None || crtc->noutput == 0) {
            if (crtc)
                XRRFreeCrtcInfo(crtc);
            continue;
        }
        XRROutputInfo* out = XRRGetOutputInfo(dpy, res, crtc->outputs[0]);
        XRRCrtcGamma* g = XRRGetCrtcGamma(dpy, res->crtcs[c]);
        const int n = g ? g->size : 0;
        bool identity = n > 1;
        for (int i = 0; i < n && identity; ++i) {
            const double expect = static_cast<double>(i) / (n - 1) * 65535.0;
            for (unsigned short v : {g->red[i], g->green[i], g->blue[i]}) {
                if (v + 257.0 < expect || v - 257.0 > expect)
                    identity = false;
            }
        }
        std::printf("%s %d %.4f %.4f %.4f %d", out ? out->name : "?", n, n ? g->red[n - 1] / 65535.0 : 0.0,
            n ? g->green[n - 1] / 65535.0 : 0.0, n ? g->blue[n - 1] / 65535.0 : 0.0, identity ? 1 : 0);
        if (full) {
            for (int i = 0; i < n; ++i)
                std::printf(" %u,%u,%u", g->red[i], g->green[i], g->blue[i]);
        }
        std::printf("\n");
        if (g)
            XRRFreeGamma(g);
        if (out)
            XRRFreeOutputInfo(out);
        XRRFreeCrtcInfo(crtc);
    }
    if (res)
        XRRFreeScreenResources(res);
    XCloseDisplay(dpy);
    return 0;
}
