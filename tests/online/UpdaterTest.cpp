// The updater against a loopback server, with real Ed25519 keys and the real installer.
#include "online/Updater.h"
#include "platform/SettingsStore.h"
#include "platform/Signature.h"
#include "platform/linux/BundleSwapInstaller.h"
#include "platform/linux/LibArchiveExtractor.h"
#include "system/EventLog.h"

#include "FakeProcessLauncher.h"
#include "Helpers.h"
#include "support/LoopbackServer.h"
#include "support/TestEnvironment.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include <sodium.h>

namespace {

using O = Updater::Outcome;
using U = unsigned char;

struct KeyPair {
    QByteArray publicKey = QByteArray(crypto_sign_PUBLICKEYBYTES, 0), secretKey = QByteArray(crypto_sign_SECRETKEYBYTES, 0);
    KeyPair()
    {
        EXPECT_GE(sodium_init(), 0);
        crypto_sign_keypair(reinterpret_cast<U*>(publicKey.data()), reinterpret_cast<U*>(secretKey.data()));
    }
    QString publicB64() const { return Signature::encodeBase64(publicKey); }
    QString sign(const QByteArray& data) const
    {
        QByteArray signature(crypto_sign_BYTES, 0);
        crypto_sign_detached(reinterpret_cast<U*>(signature.data()), nullptr, reinterpret_cast<const U*>(data.constData()),
            data.size(), reinterpret_cast<const U*>(secretKey.constData()));
        return Signature::encodeBase64(signature);
    }
};

QByteArray manifestJSON(const QString& version, const QString& url, const QString& signature)
{
    return QJsonDocument(QJsonObject {{"version", version}, {"url", url}, {"signature", signature}, {"notes", "Fixes."}}).toJson();
}

QString closedURL(const QString& path) { return LoopbackServer().url(path); }

}  // namespace

TEST(Updater, VersionComparison)
{
    const struct {
        const char *a, *b;
        int order;
    } cases[] = {{"1.10", "1.9", 1}, {"1.2", "1.2.0", 0}, {"2", "1.9.9", 1}, {"1.2b", "1.2", -1}, {"2.0-beta", "1.9", 1},
        {"1..2", "1.2", 0}, {"", "0.0", 0}, {"", "0.1", -1}, {"+2", "2", 0}, {"-1", "0", -1}, {"1. 2", "1.0", 0}, {"1.+", "1", 0},
        {"9223372036854775807", "9223372036854775806", 1}, {"9223372036854775808", "1", -1} /* too large: 0 */,
        {"-9223372036854775808", "-9223372036854775807", -1}};
    for (const auto& c : cases) {
        EXPECT_EQ(Updater::compare(QString::fromLatin1(c.a), QString::fromLatin1(c.b)), c.order) << c.a << " vs " << c.b;
        EXPECT_EQ(Updater::compare(QString::fromLatin1(c.b), QString::fromLatin1(c.a)), -c.order) << c.b << " vs " << c.a;
    }
}

TEST(Updater, ManifestAndSignatureDecoding)
{
    const auto manifest = Manifest::decode(R"({"version": "1.4-rc.1", "url": "http://h/a.zip", "signature": "c2ln", "x": 1})");
    ASSERT_TRUE(manifest);
    EXPECT_EQ(manifest->version + manifest->url + manifest->signature, QStringLiteral("1.4-rc.1http://h/a.zipc2ln"));
    EXPECT_FALSE(manifest->notes);
    EXPECT_EQ(Manifest::decode(R"({"version": "1", "url": "u", "signature": "s", "notes": "n"})")->notes, QStringLiteral("n"));
    EXPECT_TRUE(Manifest::decode(R"({"version": "1.234567890123456789012345678901", "url": "", "signature": ""})"));
    // Versions that are no version, or too long for a log line (33 characters), are refused.
    for (const char* body : {"", "[]", R"({"version": "1.4", "url": "http://h/a.zip"})", R"({"version": 1.4, "url": "u", "signature": "s"})",
             R"({"version": "1", "url": "u", "signature": "s", "notes": 3})", R"({"version": "1", "url": null, "signature": "s"})",
             R"({"version": "1", "url": "u", "signature": "s", "notes": null})", R"({"version": "1", "url": "u", "signature": 5})",
             R"({"version": "9.0 x", "url": "u", "signature": "s"})", R"({"version": "9.0\nupdate: OK", "url": "u", "signature": "s"})",
             R"({"version": "1.2345678901234567890123456789012", "url": "u", "signature": "s"})"})
        EXPECT_FALSE(Manifest::decode(body)) << body;

    // Base64 strictly: padding required, nothing ignored, nothing outside printable ASCII.
    EXPECT_EQ(Signature::decodeBase64("QUJD").value() + *Signature::decodeBase64("QUI=") + *Signature::decodeBase64("QQ=="), "ABCABA");
    EXPECT_EQ(Signature::decodeBase64(QString()), QByteArray());
    for (const char* bad : {"QUI", "QQ=", "QUJD\n", "QU JD", "QUJD=", "Q===", "QR==", "QU-_", "=QUJ", "QU=D"})
        EXPECT_FALSE(Signature::decodeBase64(QString::fromLatin1(bad))) << bad;
    EXPECT_FALSE(Signature::decodeBase64(QStringLiteral("QUJ\u0120")));
}

class UpdaterTest : public ::testing::Test {
protected:
    UpdaterTest()
    {
        QDir().mkpath(temporary_);
        installer_.setTemporaryFolder(temporary_);
        installer_.setRunningExecutable(installedBundle() + QStringLiteral("/bin/ambrano"));
        installer_.setRunningPid(999999);
    }
    // Serves the archive and a manifest for it, signed with the test's key unless told otherwise.
    void serve(const QByteArray& zip, const QString& version = "1.4", std::optional<QString> signature = {})
    {
        server_.route(QStringLiteral("/u.zip"), zip);
        server_.route(QStringLiteral("/update.json"), manifestJSON(version, server_.url("/u.zip"), signature.value_or(keys_.sign(zip))));
    }
    // One check to its end, as the app at <root>/apps/Ambrano.app would run it; a fresh log each time.
    O check(const QString& publicKey, qint64 cap = 1 << 20, const QString& current = "1.3.0")
    {
        log_ = std::make_unique<EventLog>();
        Updater updater(server_.url(QStringLiteral("/update.json")), publicKey);
        updater.setEventLog(log_.get());
        updater.setCurrentVersion(current);
        updater.setInstaller(&installer_);
        updater.setMaxDownloadBytes(cap);
        updater.setArchiveIdleTimeoutMs(300);
        updater.onQuitRequest = [this] { ++quitRequests_; };
        std::optional<O> outcome;
        updater.onFinished = [&outcome](O o) { outcome = o; };
        updater.checkInBackground();
        EXPECT_TRUE(waitFor([&outcome] { return outcome.has_value(); }, 15000));
        updater.waitForBackgroundWork();
        return outcome.value_or(O::noManifest);
    }
    QString logged() const { return log_->dump().remove(QRegularExpression("^\\[..:..:..\\] ", QRegularExpression::MultilineOption)); }
    QString installedBundle() const { return root_.path() + QStringLiteral("/apps/Ambrano.app"); }
    QString stored() const { return SettingsStore::shared().stringValue(QString::fromLatin1(Updater::lastManifestVersionKey)); }
    bool nothingDone() const { return QDir(temporary_).isEmpty() && launcher_.calls().isEmpty() && quitRequests_ == 0; }

    FreshSettings settings_;
    QTemporaryDir root_;
    QString temporary_ = root_.path() + QStringLiteral("/tmp");
    LoopbackServer server_;
    std::unique_ptr<EventLog> log_;
    LibArchiveExtractor extractor_;
    FakeProcessLauncher launcher_;
    BundleSwapInstaller installer_ {extractor_, launcher_};
    int quitRequests_ = 0;
    KeyPair keys_;
    const QByteArray zip_ = ZipBuilder().bundle(QStringLiteral("Ambrano.app"), QStringLiteral("1.4")).build();
};

TEST_F(UpdaterTest, NoKeyOrNoNewerManifestMeansNoDownload)
{
    serve(zip_, QStringLiteral("1.3"));
    EXPECT_EQ(check(QStringLiteral("UPDATE_PUBLIC_KEY")), O::notConfigured);
    spin(100);
    EXPECT_TRUE(server_.requests().isEmpty());
    EXPECT_EQ(check(keys_.publicB64()), O::notNewer);
    EXPECT_EQ(logged(), QStringLiteral("update: manifest 1.3 vs current 1.3.0"));
    EXPECT_EQ(stored(), QStringLiteral("1.3"));

    // Not a manifest, over the manifest's cap, or no server: ignored wholly, the stored version stays.
    for (const QByteArray& body : {QByteArray("9"), manifestJSON("9.0", "http://x/u.zip", QString(Updater::maxManifestBytes, u' '))}) {
        server_.route(QStringLiteral("/update.json"), body);
        EXPECT_EQ(check(keys_.publicB64()), O::noManifest);
        EXPECT_EQ(logged(), QString());
    }
    Updater unreachable(closedURL(QStringLiteral("/update.json")), keys_.publicB64());
    std::optional<O> outcome;
    unreachable.onFinished = [&outcome](O o) { outcome = o; };
    unreachable.checkInBackground();
    EXPECT_TRUE(waitFor([&outcome] { return outcome == O::noManifest; }));
    EXPECT_EQ(stored(), QStringLiteral("1.3"));
    EXPECT_EQ(server_.count(QStringLiteral("/u.zip")), 0);
}

TEST_F(UpdaterTest, VerifiedArchiveIsInstalled)
{
    serve(zip_);
    EXPECT_EQ(check(keys_.publicB64(), zip_.size(), QString()), O::installing);  // exactly at the cap; no version counts as 0
    EXPECT_EQ(logged(), QStringLiteral("update: manifest 1.4 vs current 0\nupdate: signature OK, installing 1.4"));
    EXPECT_EQ(stored(), QStringLiteral("1.4"));
    const QString work = temporary_ + QStringLiteral("/veskupdate-1.4");
    EXPECT_EQ(readAll(work + QStringLiteral("/u.zip")), zip_);
    EXPECT_TRUE(QFileInfo(work + QStringLiteral("/swap.sh")).isExecutable());
    EXPECT_EQ(QFileInfo(work).permissions() & (QFileDevice::WriteGroup | QFileDevice::WriteOther), 0);
    ASSERT_EQ(launcher_.calls().size(), 1);
    EXPECT_EQ(QStringList {launcher_.calls()[0].program} + launcher_.calls()[0].arguments,
        (QStringList {"/bin/bash", work + "/swap.sh", "999999", work + "/Ambrano.app", installedBundle()}));
    EXPECT_EQ(quitRequests_, 1);
}

TEST_F(UpdaterTest, WrongSignatureOrKeyIsRefused)
{
    QByteArray tampered = zip_;
    tampered.back() = static_cast<char>(tampered.back() ^ 0x01);
    const QString signature = keys_.sign(zip_), key = keys_.publicB64();
    ASSERT_TRUE(signature.endsWith(QStringLiteral("==")) && key.endsWith(u'='));
    const struct {
        QByteArray archive;
        QString signature, key;
    } cases[] = {{tampered, signature, key}, {zip_, signature.left(44) + u'\n' + signature.mid(44), key},
        {zip_, signature.chopped(2), key}, {zip_, signature, Signature::encodeBase64(keys_.publicKey.left(31))},
        {zip_, signature, Signature::encodeBase64(keys_.publicKey + '\0')}, {zip_, signature, key.chopped(1)},
        {zip_, signature, KeyPair().publicB64()}};
    for (const auto& c : cases) {
        serve(c.archive, QStringLiteral("1.4"), c.signature);
        EXPECT_EQ(check(c.key), O::badSignature) << c.signature.toStdString() << " " << c.key.toStdString();
        EXPECT_EQ(logged(), QStringLiteral("update: manifest 1.4 vs current 1.3.0\nupdate: BAD signature, refusing"));
        EXPECT_TRUE(nothingDone());
    }
}

TEST_F(UpdaterTest, ArchiveThatCannotBeFetchedEndsSilently)
{
    const struct {
        QString url;
        LoopbackServer::Response answer;
        qint64 cap;
        O outcome;
    } cases[] = {{"not a url", {}, 1000, O::badArchiveURL}, {"file:///etc/passwd", {}, 1000, O::badArchiveURL},
        {server_.url("/u.zip"), {200, zip_, false}, zip_.size() - 1, O::downloadFailed},
        {server_.url("/u.zip"), LoopbackServer::Response::stalling(zip_, zip_.size() / 2), zip_.size(), O::downloadFailed},
        {server_.url("/u.zip"), {200, {}}, zip_.size(), O::downloadFailed}, {closedURL("/u.zip"), {}, zip_.size(), O::downloadFailed}};
    for (const auto& c : cases) {
        server_.route(QStringLiteral("/u.zip"), c.answer);
        server_.route(QStringLiteral("/update.json"), manifestJSON("1.4", c.url, keys_.sign(zip_)));
        EXPECT_EQ(check(keys_.publicB64(), c.cap), c.outcome) << c.url.toStdString();
        EXPECT_EQ(logged(), QStringLiteral("update: manifest 1.4 vs current 1.3.0"));
        EXPECT_TRUE(nothingDone());
    }
    EXPECT_EQ(server_.count(QStringLiteral("/u.zip")), 3);
}

// The whole release procedure with the release tool, checked by the app's own updater.
TEST_F(UpdaterTest, ReleaseToolMakesUpdatesTheAppAccepts)
{
    const QString tool = qEnvironmentVariable("AMBRANO_RELEASE_TOOL"), dir = root_.path();
    if (tool.isEmpty())
        GTEST_SKIP() << "AMBRANO_RELEASE_TOOL is not set (ctest sets it)";
    const auto run = [&tool](const QStringList& args) {
        QProcess process;
        process.start(tool, args);
        EXPECT_TRUE(process.waitForFinished(10000));
        const bool ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        return ok ? process.readAllStandardOutput().trimmed() : "failed";
    };
    const QString key = run({"keygen", dir + "/release key"});
    EXPECT_EQ(QFileInfo(dir + "/release key").permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), 0);
    const QByteArray secret = readAll(dir + "/release key");
    EXPECT_EQ(run({"keygen", dir + "/release key"}), "failed");  // an existing key is never overwritten
    EXPECT_EQ(readAll(dir + "/release key"), secret);
    const QByteArray zip = ZipBuilder().bundle(QStringLiteral("Ambrano.app"), QStringLiteral("2.0")).build();
    ASSERT_TRUE(writeAll(dir + "/a.zip", zip));
    const QString signature = run({"sign", dir + "/release key", dir + "/a.zip"});
    ASSERT_NE(run({"manifest", dir + "/update.json", "2.0", server_.url("/u.zip"), signature, "Notes"}), "failed");
    EXPECT_EQ(run({"manifest", dir + "/bad.json", "2.0", server_.url("/u.zip"), signature.chopped(1)}), "failed");
    server_.route(QStringLiteral("/update.json"), readAll(dir + "/update.json"));
    server_.route(QStringLiteral("/u.zip"), zip);
    EXPECT_EQ(check(key), O::installing);
    EXPECT_EQ(readAll(temporary_ + QStringLiteral("/veskupdate-2.0/Ambrano.app/share/ambrano/version")), QByteArray("2.0\n"));

    // The tool's own check agrees, and catches a changed archive.
    EXPECT_NE(run({"verify", key, dir + "/a.zip", signature}), "failed");
    ASSERT_TRUE(writeAll(dir + "/a.zip", zip.left(10) + char(zip[10] ^ 0x20) + zip.mid(11)));
    EXPECT_EQ(run({"verify", key, dir + "/a.zip", signature}), "failed");
}
