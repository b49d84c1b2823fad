#include "online/Updater.h"
#include "platform/SettingsStore.h"
#include "platform/Signature.h"
#include "platform/Installer.h"
#include "system/EventLog.h"

#include "Helpers.h"
#include "support/LoopbackServer.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <sodium.h>

namespace {

using O = Updater::Outcome;
unsigned char* bytes(const QByteArray& data) { return reinterpret_cast<unsigned char*>(const_cast<char*>(data.constData())); }

struct KeyPair {
    QByteArray publicKey = QByteArray(crypto_sign_PUBLICKEYBYTES, 0), secretKey = QByteArray(crypto_sign_SECRETKEYBYTES, 0);
    KeyPair() { EXPECT_TRUE(sodium_init() >= 0 && crypto_sign_keypair(bytes(publicKey), bytes(secretKey)) == 0); }
    QString publicB64() const { return Signature::encodeBase64(publicKey); }
    QString sign(const QByteArray& data) const
    {
        QByteArray signature(crypto_sign_BYTES, 0);
        crypto_sign_detached(bytes(signature), nullptr, bytes(data), data.size(), bytes(secretKey));
        return Signature::encodeBase64(signature);
    }
};

QByteArray manifestJSON(const QString& version, const QString& url, const QString& signature)
{
    return QJsonDocument(QJsonObject {{"version", version}, {"url", url}, {"signature", signature}, {"notes", "Fixes."}}).toJson();
}

}  // namespace

TEST(Updater, VersionComparisonAndDecoding)
{
    const struct { const char *a, *b; int order; } cases[] = {{"1.10", "1.9", 1}, {"1.2", "1.2.0", 0}, {"2", "1.9.9", 1},
        {"1.2b", "1.2", -1}, {"2.0-beta", "1.9", 1}, {"1..2", "1.2", 0}, {"", "0.0", 0}, {"", "0.1", -1}, {"+2", "2", 0},
        {"-1", "0", -1}, {"1. 2", "1.0", 0}, {"1.+", "1", 0}, {"9223372036854775807", "9223372036854775806", 1},
        {"9223372036854775808", "1", -1} /* too large: 0 */, {"-9223372036854775808", "-9223372036854775807", -1}};
    for (const auto& c : cases)
        EXPECT_EQ(std::pair(Updater::compare(QString::fromLatin1(c.a), QString::fromLatin1(c.b)),
                      Updater::compare(QString::fromLatin1(c.b), QString::fromLatin1(c.a))), std::pair(c.order, -c.order)) << c.a << " vs " << c.b;
    const auto manifest = Manifest::decode(R"({"version": "1.4-rc.1", "url": "http://h/a.zip", "signature": "c2ln", "x": 1})");
    EXPECT_EQ(manifest->version + manifest->url + manifest->signature + manifest->notes.value_or("-"), QStringLiteral("1.4-rc.1http://h/a.zipc2ln-"));
    EXPECT_TRUE(Manifest::decode(R"({"version": "1.234567890123456789012345678901", "url": "", "signature": ""})"));
    // A version longer than 32 characters, or with a line break, would forge lines of the log.
    for (const char* body : {"", "[]", R"({"version": "1.4", "url": "http://h/a.zip"})", R"({"version": 1.4, "url": "u", "signature": "s"})",
             R"({"version": "1", "url": "u", "signature": "s", "notes": 3})", R"({"version": "1", "url": null, "signature": "s"})",
             R"({"version": "1", "url": "u", "signature": "s", "notes": null})", R"({"version": "1", "url": "u", "signature": 5})",
             R"({"version": "9.0 x", "url": "u", "signature": "s"})", R"({"version": "9.0\nupdate: OK", "url": "u", "signature": "s"})",
             R"({"version": "1.2345678901234567890123456789012", "url": "u", "signature": "s"})"})
        EXPECT_FALSE(Manifest::decode(body)) << body;
    EXPECT_EQ(Signature::decodeBase64("QUJD").value() + *Signature::decodeBase64("QUI=") + *Signature::decodeBase64("QQ=="), "ABCABA");
    EXPECT_EQ(Signature::decodeBase64(QString()), QByteArray());
    for (const char* bad : {"QUI", "QQ=", "QUJD\n", "QU JD", "QUJD=", "Q===", "QR==", "QU-_", "=QUJ", "QU=D", "QUJ\u0120"})
        EXPECT_FALSE(Signature::decodeBase64(QString::fromUtf8(bad))) << bad;
}

class UpdaterTest : public ::testing::Test, Installer {
protected:
    bool install(const QByteArray& archive, const QString& version) override
    {
        installed_ << (archive == zip_ ? version : QStringLiteral("other bytes"));
        return true;
    }
    O run(const QString& publicKey, const QString& current = "1.3.0")
    {
        log_ = std::make_unique<EventLog>();
        Updater updater(server_.url(QStringLiteral("/update.json")), publicKey);
        updater.setEventLog(log_.get());
        updater.setCurrentVersion(current);
        updater.setInstaller(this);
        updater.setMaxDownloadBytes(zip_.size());
        updater.setArchiveIdleTimeoutMs(300);
        updater.onQuitRequest = [this] { ++quitRequests_; };
        std::optional<O> outcome;
        updater.onFinished = [&outcome](O o) { outcome = o; };
        updater.checkInBackground();
        EXPECT_TRUE(waitFor([&outcome] { return outcome.has_value(); }, 15000));
        updater.waitForBackgroundWork();
        return outcome.value_or(O::noManifest);
    }
    // The log without times | the stored manifest version | what was installed | quit requests.
    QString logged() const
    {
        return log_->dump().remove(QRegularExpression("^\\[.{8}\\] ", QRegularExpression::MultilineOption)) + u'|'
            + SettingsStore::shared().stringValue(QString::fromLatin1(Updater::lastManifestVersionKey)) + u'|'
            + installed_.join(u',') + u'|' + QString::number(quitRequests_);
    }
    FreshSettings settings_;
    LoopbackServer server_;
    std::unique_ptr<EventLog> log_;
    QStringList installed_;
    int quitRequests_ = 0;
    KeyPair keys_;
    const QByteArray zip_ = QByteArray(3000, 'z') + "end";
};

TEST_F(UpdaterTest, InstalledOnlyWhenConfiguredNewerWholeAndVerified)
{
    server_.route(QStringLiteral("/u.zip"), zip_);
    server_.route(QStringLiteral("/update.json"), manifestJSON("1.3", server_.url("/u.zip"), keys_.sign(zip_)));
    EXPECT_EQ(run(QStringLiteral("UPDATE_PUBLIC_KEY")), O::notConfigured);
    EXPECT_EQ(run(keys_.publicB64()), O::notNewer);
    EXPECT_EQ(logged(), QStringLiteral("update: manifest 1.3 vs current 1.3.0|1.3||0"));
    for (const QByteArray& body : {QByteArray("9"), manifestJSON("9.0", "http://x/u.zip", QString(Updater::maxManifestBytes, u' '))}) {
        server_.route(QStringLiteral("/update.json"), body);
        EXPECT_EQ(run(keys_.publicB64()), O::noManifest);
        EXPECT_EQ(logged(), QStringLiteral("|1.3||0"));
    }
    EXPECT_EQ(server_.requests(), QStringList(3, QStringLiteral("/update.json")));  // none when not configured
    // Each row fails one way; none may install or quit.
    QByteArray tampered = zip_;
    tampered.back() = static_cast<char>(tampered.back() ^ 0x01);
    const QString signature = keys_.sign(zip_), key = keys_.publicB64(), url = server_.url("/u.zip");
    ASSERT_TRUE(signature.endsWith(QStringLiteral("==")) && key.endsWith(u'='));
    using R = LoopbackServer::Response;
    const struct { QString url; R archive; QString signature, key; O outcome; } cases[] = {
        {"not a url", {200, zip_}, signature, key, O::badArchiveURL}, {"file:///etc/passwd", {200, zip_}, signature, key, O::badArchiveURL},
        {url, {200, zip_ + 'x', false}, signature, key, O::downloadFailed}, {url, {200, {}}, signature, key, O::downloadFailed},
        {url, R::stalling(zip_, zip_.size() / 2), signature, key, O::downloadFailed},
        {url, {200, tampered}, signature, key, O::badSignature}, {url, {200, zip_}, signature.chopped(2), key, O::badSignature},
        {url, {200, zip_}, signature.left(44) + u'\n' + signature.mid(44), key, O::badSignature},
        {url, {200, zip_}, signature, Signature::encodeBase64(keys_.publicKey.left(31)), O::badSignature},
        {url, {200, zip_}, signature, Signature::encodeBase64(keys_.publicKey + '\0'), O::badSignature},
        {url, {200, zip_}, signature, key.chopped(1), O::badSignature}, {url, {200, zip_}, signature, KeyPair().publicB64(), O::badSignature},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url.toStdString() + " " + c.signature.toStdString() + " " + c.key.toStdString());
        server_.route(QStringLiteral("/u.zip"), c.archive);
        server_.route(QStringLiteral("/update.json"), manifestJSON("1.4", c.url, c.signature));
        EXPECT_EQ(run(c.key), c.outcome);
        EXPECT_EQ(logged(), QStringLiteral("update: manifest 1.4 vs current 1.3.0")
                + (c.outcome == O::badSignature ? "\nupdate: BAD signature, refusing|1.4||0" : "|1.4||0"));
    }
    server_.route(QStringLiteral("/u.zip"), zip_);
    server_.route(QStringLiteral("/update.json"), manifestJSON("1.4", url, signature));
    EXPECT_EQ(run(key, QString()), O::installing);  // exactly at the cap; no version counts as 0
    EXPECT_EQ(logged(), QStringLiteral("update: manifest 1.4 vs current 0\nupdate: signature OK, installing 1.4|1.4|1.4|1"));
}
