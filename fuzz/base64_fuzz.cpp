// Base64 of the update key and signature, and the signature check that uses them.
#include "platform/Signature.h"
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::optional<QByteArray> bytes = Signature::decodeBase64(text);
    if (bytes && Signature::encodeBase64(*bytes) != text)  // strict Base64 has one spelling per byte string
        std::abort();
    Signature::verify(text, text, QByteArrayLiteral("ambrano"));  // the text as both key and signature
    return 0;
}
