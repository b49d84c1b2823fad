// The update manifest, as the server hands it over.
#include "online/Updater.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (const auto manifest = Manifest::decode(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size))))
        Updater::compare(manifest->version, QStringLiteral(AMBRANO_VERSION));
    return 0;
}
