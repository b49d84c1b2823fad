// The tips feed, as the server or the cache file hands it over: a decoded one must be usable as it is.
#include "online/Tips.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto document = Tips::decode(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    if (!document)
        return 0;
    Tips tips(QStringLiteral("http://127.0.0.1:9/tips.json"));
    tips.setRandomSource([](int bound) { return bound - 1; });
    if (Tips::accepted(*document))
        tips.apply(*document);
    for (int i = 0; i < 3; ++i)
        tips.next();
    tips.activationMessage(), tips.aboutInfo();
    return 0;
}
