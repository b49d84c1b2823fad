// Base64 of the update key and signature, and the signature check that uses them.
#include "platform/Signature.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (const std::optional<QByteArray> bytes = Signature::decodeBase64(text)) {
        // Strict Base64 has one spelling per byte string.
        if (Signature::encodeBase64(*bytes) != text)
            std::abort();
    }
    // The same text as key and as signature, over a fixed message.
    Signature::verify(text, text, QByteArrayLiteral("ambrano"));
    return 0;
}
