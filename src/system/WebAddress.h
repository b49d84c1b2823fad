#pragma once
// The one link policy of the app: addresses that come from the network (tips, credits, tip
// pictures) are only ever fetched or handed to the desktop when they are web addresses.
// A file:, smb: or custom-handler address could open local files or start other programs.

#include <QUrl>

inline bool isWebAddress(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        && !url.host().isEmpty();
}
