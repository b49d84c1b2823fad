// The tips feed, as the server or the cache file hands it over.
#include "online/Tips.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::optional<Tips::Document> document = Tips::decode(body);
    if (!document)
        return 0;
    // A decoded document must be usable as it is: apply it and draw from it.
    Tips tips(QStringLiteral("http://127.0.0.1:9/tips.json"));
    tips.setRandomSource([](int bound) { return bound - 1; });
    if (Tips::accepted(*document))
        tips.apply(*document);
    for (int i = 0; i < 3; ++i)
        tips.next();
    tips.activationMessage();
    tips.aboutInfo();
    return 0;
}
