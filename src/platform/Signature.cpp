#include "platform/Signature.h"

#include <sodium.h>

namespace Signature {

namespace {

bool ready()
{
    // Safe to call more than once and from any thread.
    return sodium_init() >= 0;
}

}  // namespace

std::optional<QByteArray> decodeBase64(const QString& text)
{
    if (!ready())
        return std::nullopt;
    // Anything outside printable ASCII is refused before libsodium sees it, so a non-Latin-1
    // character cannot be narrowed into a valid one.
    for (QChar c : text) {
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7F)
            return std::nullopt;
    }
    const QByteArray ascii = text.toLatin1();
    if (ascii.size() % 4 != 0)
        return std::nullopt;
    QByteArray out(ascii.size() / 4 * 3, Qt::Uninitialized);
    size_t length = 0;
    // No characters to ignore and no end pointer: the whole text must be valid, padding included.
    if (sodium_base642bin(reinterpret_cast<unsigned char*>(out.data()), static_cast<size_t>(out.size()),
            ascii.constData(), static_cast<size_t>(ascii.size()), nullptr, &length, nullptr,
            sodium_base64_VARIANT_ORIGINAL)
        != 0)
        return std::nullopt;
    out.truncate(static_cast<qsizetype>(length));
    return out;
}

QString encodeBase64(const QByteArray& bytes)
{
    if (!ready())
        return {};
    const size_t size = sodium_base64_ENCODED_LEN(static_cast<size_t>(bytes.size()), sodium_base64_VARIANT_ORIGINAL);
    QByteArray out(static_cast<qsizetype>(size), Qt::Uninitialized);
    sodium_bin2base64(out.data(), size, reinterpret_cast<const unsigned char*>(bytes.constData()),
        static_cast<size_t>(bytes.size()), sodium_base64_VARIANT_ORIGINAL);
    return QString::fromLatin1(out.constData());
}

bool verify(const QString& publicKeyB64, const QString& signatureB64, const QByteArray& data)
{
    if (!ready())
        return false;
    const std::optional<QByteArray> key = decodeBase64(publicKeyB64);
    if (!key || key->size() != publicKeyBytes)
        return false;
    const std::optional<QByteArray> signature = decodeBase64(signatureB64);
    if (!signature || signature->size() != signatureBytes)
        return false;
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature->constData()),
               reinterpret_cast<const unsigned char*>(data.constData()), static_cast<unsigned long long>(data.size()),
               reinterpret_cast<const unsigned char*>(key->constData()))
        == 0;
}

}  // namespace Signature
