// The update manifest, as the server hands it over.
#include "online/Updater.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (const std::optional<Manifest> manifest = Manifest::decode(body))
        Updater::compare(manifest->version, QStringLiteral(AMBRANO_VERSION));
    return 0;
}
