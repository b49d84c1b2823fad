#include "support/XTestTools.h"

#include <QProcess>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace {

struct XConn {
    Display* dpy = XOpenDisplay(nullptr);
    ~XConn()
    {
        if (dpy)
            XCloseDisplay(dpy);
    }
};

template <typename Fn>
void forEachActiveCrtc(Display* dpy, Fn fn)
{
    XRRScreenResources* res = XRRGetScreenResourcesCurrent(dpy, DefaultRootWindow(dpy));
    for (int c = 0; res && c < res->ncrtc; ++c) {
        XRRCrtcInfo* crtc = XRRGetCrtcInfo(dpy, res, res->crtcs[c]);
        if (crtc && crtc->mode != None && crtc->noutput > 0) {
            XRROutputInfo* out = XRRGetOutputInfo(dpy, res, crtc->outputs[0]);
            fn(res->crtcs[c], QString::fromLocal8Bit(out->name, out->nameLen));
            XRRFreeOutputInfo(out);
        }
        if (crtc)
            XRRFreeCrtcInfo(crtc);
    }
    if (res)
        XRRFreeScreenResources(res);
}

}  // namespace

namespace XTestTools {

std::vector<std::pair<QString, CrtcRamp>> readRamps()
{
    XConn c;
    std::vector<std::pair<QString, CrtcRamp>> ramps;
    if (!c.dpy)
        return ramps;
    forEachActiveCrtc(c.dpy, [&](RRCrtc crtc, const QString& name) {
        XRRCrtcGamma* g = XRRGetCrtcGamma(c.dpy, crtc);
        CrtcRamp ramp;
        if (g) {
            ramp.red.assign(g->red, g->red + g->size);
            ramp.green.assign(g->green, g->green + g->size);
            ramp.blue.assign(g->blue, g->blue + g->size);
            XRRFreeGamma(g);
        }
        ramps.emplace_back(name, ramp);
    });
    return ramps;
}

CrtcRamp readRamp(const QString& output)
{
    for (auto& [name, ramp] : readRamps()) {
        if (name == output)
            return ramp;
    }
    return {};
}

void writeRamp(const QString& output, const CrtcRamp& ramp)
{
    XConn c;
    forEachActiveCrtc(c.dpy, [&](RRCrtc crtc, const QString& name) {
        if (name != output)
            return;
        XRRCrtcGamma* g = XRRAllocGamma(static_cast<int>(ramp.red.size()));
        std::copy(ramp.red.begin(), ramp.red.end(), g->red);
        std::copy(ramp.green.begin(), ramp.green.end(), g->green);
        std::copy(ramp.blue.begin(), ramp.blue.end(), g->blue);
        XRRSetCrtcGamma(c.dpy, crtc, g);
        XRRFreeGamma(g);
    });
    XSync(c.dpy, False);
}

int run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(20000))
        return -1;
    return p.exitCode();
}

void plugSecondMonitor()
{
    run(QStringLiteral("xrandr"), {"--newmode", "1280x800_60", "83.50", "1280", "1352", "1480", "1680", "800",
                                      "803", "809", "831", "-hsync", "+vsync"});
    run(QStringLiteral("xrandr"), {"--addmode", "DUMMY1", "1280x800_60"});
    run(QStringLiteral("xrandr"), {"--output", "DUMMY1", "--mode", "1280x800_60", "--right-of", "DUMMY0"});
}

void unplugSecondMonitor()
{
    run(QStringLiteral("xrandr"), {"--output", "DUMMY1", "--off"});
}

}  // namespace XTestTools
