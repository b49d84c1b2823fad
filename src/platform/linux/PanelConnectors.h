#pragma once
// Names of the connectors that drive a computer's own panel, as DRM ("card0-eDP-1" without
// the card) and the X server's outputs ("eDP-1", "LVDS1", "LCD") spell them. One list for
// the gamma, DDC and backlight backends, so they agree on which display is built in.

#include <QString>

inline bool isPanelConnector(const QString& name)
{
    for (const char* prefix : {"eDP", "LVDS", "DSI", "LCD"}) {
        if (name.startsWith(QLatin1String(prefix), Qt::CaseInsensitive))
            return true;
    }
    return false;
}
