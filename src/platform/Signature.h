#pragma once
// Ed25519 signature check (libsodium) with strict standard Base64 for keys and signatures.

#include <QByteArray>
#include <QString>

#include <optional>

namespace Signature {

constexpr int publicKeyBytes = 32;
constexpr int signatureBytes = 64;

// Standard alphabet, "=" padding required, nothing else accepted: no blanks, no line breaks,
// no URL-safe characters, no stray bits in the last character.
std::optional<QByteArray> decodeBase64(const QString& text);
QString encodeBase64(const QByteArray& bytes);

// True only when the key decodes to 32 bytes, the signature to 64 bytes, and the signature is
// valid for data under that key.
bool verify(const QString& publicKeyB64, const QString& signatureB64, const QByteArray& data);

}  // namespace Signature
