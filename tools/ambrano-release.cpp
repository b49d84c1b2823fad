// ambrano-release: the publisher's side of self-update. Makes the signing key pair, signs an
// update archive, and writes the update.json manifest that the app fetches.

#include "platform/Signature.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStringList>
#include <QUrl>

#include <sodium.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace {

int usage()
{
    std::fputs(
        "usage: ambrano-release keygen SECRET-KEY-FILE\n"
        "         writes a new secret key (owner-only) and prints the public key for\n"
        "         -DAMBRANO_UPDATE_PUBLIC_KEY=...\n"
        "       ambrano-release sign SECRET-KEY-FILE ARCHIVE\n"
        "         prints the archive's signature\n"
        "       ambrano-release manifest OUT-FILE VERSION URL SIGNATURE [NOTES]\n"
        "         writes the update.json manifest\n"
        "       ambrano-release verify PUBLIC-KEY ARCHIVE SIGNATURE\n"
        "         checks a signature as the app does\n",
        stderr);
    return 2;
}

int fail(const char* message)
{
    std::fprintf(stderr, "ambrano-release: %s\n", message);
    return 1;
}

bool readFile(const QString& path, QByteArray& out)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    out = file.readAll();
    return file.error() == QFileDevice::NoError;
}

// The secret key file holds the 64-byte libsodium secret key in standard Base64.
bool readSecretKey(const QString& path, QByteArray& key)
{
    QByteArray text;
    if (!readFile(path, text))
        return false;
    const std::optional<QByteArray> decoded = Signature::decodeBase64(QString::fromLatin1(text.trimmed()));
    if (!decoded || decoded->size() != crypto_sign_SECRETKEYBYTES)
        return false;
    key = *decoded;
    return true;
}

int keygen(const QString& path)
{
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
    crypto_sign_keypair(publicKey, secretKey);
    const QByteArray secretText = Signature::encodeBase64(QByteArray(reinterpret_cast<const char*>(secretKey),
                                                               sizeof secretKey))
                                      .toLatin1()
        + '\n';
    sodium_memzero(secretKey, sizeof secretKey);

    // Created owner-only from the start, and never over an existing key.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return fail("cannot create the secret key file (it must not exist yet)");
    const bool written = ::fchmod(fd, 0600) == 0
        && ::write(fd, secretText.constData(), static_cast<size_t>(secretText.size())) == secretText.size()
        && ::fsync(fd) == 0;
    ::close(fd);
    if (!written) {
        ::unlink(QFile::encodeName(path).constData());
        return fail("cannot write the secret key file");
    }
    const QString publicText =
        Signature::encodeBase64(QByteArray(reinterpret_cast<const char*>(publicKey), sizeof publicKey));
    std::printf("%s\n", publicText.toLatin1().constData());
    return 0;
}

int sign(const QString& keyPath, const QString& archivePath)
{
    QByteArray key;
    if (!readSecretKey(keyPath, key))
        return fail("cannot read the secret key (64 bytes in standard Base64 expected)");
    QByteArray archive;
    if (!readFile(archivePath, archive))
        return fail("cannot read the archive");
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(archive.constData()),
        static_cast<unsigned long long>(archive.size()), reinterpret_cast<const unsigned char*>(key.constData()));
    sodium_memzero(key.data(), static_cast<size_t>(key.size()));
    std::printf("%s\n",
        Signature::encodeBase64(QByteArray(reinterpret_cast<const char*>(signature), sizeof signature))
            .toLatin1()
            .constData());
    return 0;
}

int manifest(const QStringList& args)
{
    const QString& out = args[0];
    const QString& version = args[1];
    const QString& url = args[2];
    const QString& signature = args[3];
    if (version.isEmpty() || version.contains(QLatin1Char('/')))
        return fail("the version must be a plain text such as 1.4.2");
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid() || (parsed.scheme() != QLatin1String("http") && parsed.scheme() != QLatin1String("https")))
        return fail("the URL must be an absolute http or https address");
    const std::optional<QByteArray> decoded = Signature::decodeBase64(signature);
    if (!decoded || decoded->size() != Signature::signatureBytes)
        return fail("the signature must be 88 characters of standard Base64 (see 'sign')");
    QJsonObject root {
        {QStringLiteral("version"), version},
        {QStringLiteral("url"), url},
        {QStringLiteral("signature"), signature},
    };
    if (args.size() > 4)
        root.insert(QStringLiteral("notes"), args[4]);
    QSaveFile file(out);
    const QByteArray text = QJsonDocument(root).toJson(QJsonDocument::Indented);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        return fail("cannot write the manifest");
    return 0;
}

int verify(const QString& publicKey, const QString& archivePath, const QString& signature)
{
    QByteArray archive;
    if (!readFile(archivePath, archive))
        return fail("cannot read the archive");
    if (!Signature::verify(publicKey, signature, archive))
        return fail("BAD signature");
    std::puts("signature OK");
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (sodium_init() < 0)
        return fail("libsodium cannot start");
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty())
        return usage();
    const QString command = args.takeFirst();
    if (command == QLatin1String("keygen") && args.size() == 1)
        return keygen(args[0]);
    if (command == QLatin1String("sign") && args.size() == 2)
        return sign(args[0], args[1]);
    if (command == QLatin1String("manifest") && (args.size() == 4 || args.size() == 5))
        return manifest(args);
    if (command == QLatin1String("verify") && args.size() == 3)
        return verify(args[0], args[1], args[2]);
    return usage();
}
