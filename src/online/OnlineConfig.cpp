#include "online/OnlineConfig.h"

#ifndef AMBRANO_SERVER_URL
#define AMBRANO_SERVER_URL "http://REPLACE-WITH-SERVER"
#endif
#ifndef AMBRANO_UPDATE_PUBLIC_KEY
#define AMBRANO_UPDATE_PUBLIC_KEY "UPDATE_PUBLIC_KEY"
#endif

namespace OnlineConfig {

QString serverURL()
{
    QString url = QString::fromUtf8(AMBRANO_SERVER_URL);
    while (url.endsWith(QLatin1Char('/')))
        url.chop(1);
    return url;
}

QString updatePublicKey()
{
    return QString::fromUtf8(AMBRANO_UPDATE_PUBLIC_KEY);
}

}  // namespace OnlineConfig
