// The updater against a loopback server, with real Ed25519 keys and the real installer.
#include "online/Updater.h"
#include "platform/SettingsStore.h"
#include "platform/Signature.h"
#include "platform/linux/BundleSwapInstaller.h"
#include "platform/linux/LibArchiveExtractor.h"
#include "system/EventLog.h"

#include "FakeProcessLauncher.h"
#include "Printers.h"
#include "support/LoopbackServer.h"
#include "support/TestEnvironment.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sodium.h>

namespace {

using O = Updater::Outcome;
const QString kManifestKey = QString::fromLatin1(Updater::lastManifestVersionKey);

struct KeyPair {
    QByteArray publicKey = QByteArray(crypto_sign_PUBLICKEYBYTES, 0), secretKey = QByteArray(crypto_sign_SECRETKEYBYTES, 0);
    KeyPair()
    {
        EXPECT_GE(sodium_init(), 0);
        crypto_sign_keypair(reinterpret_cast<unsigned char*>(publicKey.data()), reinterpret_cast<unsigned char*>(secretKey.data()));
    }
    QString publicB64() const { return Signature::encodeBase64(publicKey); }
    QString sign(const QByteArray& data) const
    {
        QByteArray signature(crypto_sign_BYTES, Qt::Uninitialized);
        crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()), nullptr,
            reinterpret_cast<const unsigned char*>(data.constData()), static_cast<unsigned long long>(data.size()),
            reinterpret_cast<const unsigned char*>(secretKey.constData()));
        return Signature::encodeBase64(signature);
    }
};

QByteArray manifestJSON(const QString& version, const QString& url, const QString& signature)
{
    return QJsonDocument(QJsonObject {{"version", version}, {"url", url}, {"signature", signature}, {"notes", "Fixes."}}).toJson();
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString closedURL(const QString& path)
{
    LoopbackServer gone;
    return gone.url(path);
}

}  // namespace

TEST(Updater, VersionComparison)
{
    const struct {
        const char *a, *b;
        int order;
    } cases[] = {
        {"1.10", "1.9", 1}, {"1.2", "1.2.0", 0}, {"2", "1.9.9", 1}, {"1.2b", "1.2", -1}, {"2.0-beta", "1.9", 1},
        {"1..2", "1.2", 0}, {"", "0.0", 0}, {"", "0.1", -1}, {"+2", "2", 0}, {"-1", "0", -1}, {"1. 2", "1.0", 0},
        {"1.+", "1", 0}, {"9223372036854775807", "9223372036854775806", 1},
        {"9223372036854775808", "1", -1},  // too large for 64 bits: counts as 0
        {"-9223372036854775808", "-9223372036854775807", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Updater::compare(QString::fromLatin1(c.a), QString::fromLatin1(c.b)), c.order) << c.a << " vs " << c.b;
        EXPECT_EQ(Updater::compare(QString::fromLatin1(c.b), QString::fromLatin1(c.a)), -c.order) << c.b << " vs " << c.a;
    }
}

TEST(Updater, ManifestDecoding)
{
    const auto manifest = Manifest::decode(R"({"version": "1.4-rc.1", "url": "http://h/a.zip", "signature": "c2ln", "x": 1})");
    ASSERT_TRUE(manifest);
    EXPECT_EQ(manifest->version + manifest->url + manifest->signature, QStringLiteral("1.4-rc.1http://h/a.zipc2ln"));
    EXPECT_FALSE(manifest->notes);
    EXPECT_EQ(Manifest::decode(R"({"version": "1", "url": "u", "signature": "s", "notes": "n"})")->notes, QStringLiteral("n"));
    EXPECT_TRUE(Manifest::decode(R"({"version": "1.234567890123456789012345678901", "url": "", "signature": ""})"));
    const char* invalid[] = {"", "[]", R"({"version": "1.4", "url": "http://h/a.zip"})",
        R"({"version": "1", "url": "u", "signature": "s", "notes": 3})", R"({"version": "1", "url": "u", "signature": "s", "notes": null})",
        R"({"version": 1.4, "url": "u", "signature": "s"})", R"({"version": "1", "url": null, "signature": "s"})",
        R"({"version": "1", "url": "u", "signature": 5})", R"({"version": "9.0 x", "url": "u", "signature": "s"})",
        R"({"version": "9.0\nupdate: signature OK", "url": "u", "signature": "s"})",
        R"({"version": "1.2345678901234567890123456789012", "url": "u", "signature": "s"})"};  // 33: too long to log
    for (const char* body : invalid)
        EXPECT_FALSE(Manifest::decode(body)) << body;
}

TEST(Updater, StrictBase64)
{
    EXPECT_EQ(Signature::decodeBase64(QStringLiteral("QUJD")), QByteArray("ABC"));
    EXPECT_EQ(Signature::decodeBase64(QStringLiteral("QUI=")), QByteArray("AB"));
    EXPECT_EQ(Signature::decodeBase64(QStringLiteral("QQ==")), QByteArray("A"));
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
    // Serves the archive and a manifest for it, signed by the test's key unless told otherwise.
    void serve(const QByteArray& zip, const QString& version = QStringLiteral("1.4"), std::optional<QString> signature = {})
    {
        server_.route(QStringLiteral("/u.zip"), zip);
        server_.route(QStringLiteral("/update.json"), manifestJSON(version, server_.url(QStringLiteral("/u.zip")), signature.value_or(keys_.sign(zip))));
    }
    // Runs one check, as an app at <root>/apps/Ambrano.app would, to its end; a fresh log each time.
    O check(const QString& publicKey, qint64 cap = Updater::defaultMaxDownloadBytes, const QString& current = "1.3.0")
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
    QString logged() const { return log_->dump().remove(QRegularExpression(QStringLiteral("^\\[..:..:..\\] "), QRegularExpression::MultilineOption)); }
    QString installedBundle() const { return root_.path() + QStringLiteral("/apps/Ambrano.app"); }
    QByteArray bundleZip(const QString& version = QStringLiteral("1.4")) const { return ZipBuilder().bundle(QStringLiteral("Ambrano.app"), version).build(); }
    bool nothingDone() const
    {
        return QDir(temporary_).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden) && launcher_.calls().isEmpty() && quitRequests_ == 0;
    }

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
};

TEST_F(UpdaterTest, NoKeyOrNoManifestMeansNoDownload)
{
    serve(bundleZip(), QStringLiteral("1.3"));
    EXPECT_EQ(check(QStringLiteral("UPDATE_PUBLIC_KEY")), O::notConfigured);
    spin(100);
    EXPECT_TRUE(server_.requests().isEmpty());
    EXPECT_EQ(check(keys_.publicB64()), O::notNewer);
    EXPECT_EQ(logged(), QStringLiteral("update: manifest 1.3 vs current 1.3.0"));
    EXPECT_EQ(SettingsStore::shared().stringValue(kManifestKey), QStringLiteral("1.3"));

    // Not a manifest, or over the manifest's cap: ignored wholly, the stored version stays.
    for (const QByteArray& body : {QByteArray("9"), manifestJSON("9.0", "http://x/u.zip", QString(Updater::maxManifestBytes, u' '))}) {
        server_.route(QStringLiteral("/update.json"), body);
        EXPECT_EQ(check(keys_.publicB64()), O::noManifest);
        EXPECT_EQ(logged(), QString());
    }
    EXPECT_EQ(SettingsStore::shared().stringValue(kManifestKey), QStringLiteral("1.3"));
    EXPECT_EQ(server_.count(QStringLiteral("/u.zip")), 0);
    Updater unreachable(closedURL(QStringLiteral("/update.json")), keys_.publicB64());
    std::optional<O> outcome;
    unreachable.onFinished = [&outcome](O o) { outcome = o; };
    unreachable.checkInBackground();
    EXPECT_TRUE(waitFor([&outcome] { return outcome == O::noManifest; }));
}

TEST_F(UpdaterTest, VerifiedArchiveIsInstalled)
{
    const QByteArray zip = bundleZip();
    serve(zip);
    EXPECT_EQ(check(keys_.publicB64(), zip.size(), QString()), O::installing);  // exactly at the cap
    EXPECT_EQ(logged(), QStringLiteral("update: manifest 1.4 vs current 0\nupdate: signature OK, installing 1.4"));
    EXPECT_EQ(SettingsStore::shared().stringValue(kManifestKey), QStringLiteral("1.4"));

    const QString work = temporary_ + QStringLiteral("/veskupdate-1.4");
    EXPECT_EQ(fileBytes(work + QStringLiteral("/u.zip")), zip);
    EXPECT_TRUE(QFileInfo(work + QStringLiteral("/swap.sh")).isExecutable());
    EXPECT_EQ(QFileInfo(work).permissions() & (QFileDevice::WriteGroup | QFileDevice::WriteOther), 0);
    ASSERT_EQ(launcher_.calls().size(), 1);
    EXPECT_EQ(launcher_.calls()[0].program, QStringLiteral("/bin/bash"));
    EXPECT_EQ(launcher_.calls()[0].arguments,
        (QStringList {work + QStringLiteral("/swap.sh"), "999999", work + QStringLiteral("/Ambrano.app"), installedBundle()}));
    EXPECT_EQ(quitRequests_, 1);
}

TEST_F(UpdaterTest, WrongSignatureOrKeyIsRefused)
{
    const QByteArray zip = bundleZip();
    QByteArray tampered = zip;
    tampered[tampered.size() - 1] = static_cast<char>(tampered.back() ^ 0x01);
    const QString signature = keys_.sign(zip), key = keys_.publicB64();
    ASSERT_TRUE(signature.endsWith(QStringLiteral("==")) && key.endsWith(u'='));
    const struct {
        QByteArray archive;
        QString signature, key;
    } cases[] = {
        {tampered, signature, key},
        {zip, signature.left(44) + u'\n' + signature.mid(44), key},
        {zip, signature.chopped(2), key},
        {zip, signature, Signature::encodeBase64(keys_.publicKey.left(31))},
        {zip, signature, Signature::encodeBase64(keys_.publicKey + '\0')},
        {zip, signature, key.chopped(1)},
        {zip, signature, KeyPair().publicB64()},
    };
    for (const auto& c : cases) {
        serve(c.archive, QStringLiteral("1.4"), c.signature);
        EXPECT_EQ(check(c.key), O::badSignature) << c.signature.toStdString() << " " << c.key.toStdString();
        EXPECT_EQ(logged(), QStringLiteral("update: manifest 1.4 vs current 1.3.0\nupdate: BAD signature, refusing"));
        EXPECT_TRUE(nothingDone());
    }
}

TEST_F(UpdaterTest, ArchiveThatCannotBeFetchedEndsSilently)
{
    const QByteArray zip = bundleZip();
    const struct {
        QString url;
        LoopbackServer::Response answer;
        qint64 cap;
        O outcome;
    } cases[] = {
        {"not a url", {}, zip.size(), O::badArchiveURL},
        {"file:///etc/passwd", {}, zip.size(), O::badArchiveURL},
        {server_.url("/u.zip"), {200, zip, false}, zip.size() - 1, O::downloadFailed},
        {server_.url("/u.zip"), LoopbackServer::Response::stalling(zip, zip.size() / 2), zip.size(), O::downloadFailed},
        {server_.url("/u.zip"), {200, {}}, zip.size(), O::downloadFailed},
        {closedURL("/u.zip"), {}, zip.size(), O::downloadFailed},
    };
    for (const auto& c : cases) {
        server_.route(QStringLiteral("/u.zip"), c.answer);
        server_.route(QStringLiteral("/update.json"), manifestJSON("1.4", c.url, keys_.sign(zip)));
        EXPECT_EQ(check(keys_.publicB64(), c.cap), c.outcome) << c.url.toStdString();
        EXPECT_EQ(logged(), QStringLiteral("update: manifest 1.4 vs current 1.3.0"));
        EXPECT_TRUE(nothingDone());
    }
    EXPECT_EQ(server_.count(QStringLiteral("/u.zip")), 3);
}

// The whole release procedure with the release tool, checked by the app's own updater.
TEST_F(UpdaterTest, ReleaseToolMakesUpdatesTheAppAccepts)
{
    const QString tool = qEnvironmentVariable("AMBRANO_RELEASE_TOOL");
    if (tool.isEmpty())
        GTEST_SKIP() << "AMBRANO_RELEASE_TOOL is not set (ctest sets it)";
    const auto run = [&tool](const QStringList& args, QByteArray* out = nullptr) {
        QProcess process;
        process.start(tool, args);
        EXPECT_TRUE(process.waitForFinished(10000));
        if (out)
            *out = process.readAllStandardOutput().trimmed();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    };
    const QString secret = root_.path() + QStringLiteral("/release key"), archive = root_.path() + QStringLiteral("/a.zip");
    QByteArray publicKey, signature;
    ASSERT_EQ(run({"keygen", secret}, &publicKey), 0);
    EXPECT_EQ(QFileInfo(secret).permissions(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);
    const QByteArray secretBytes = fileBytes(secret);
    EXPECT_NE(run({"keygen", secret}), 0);  // an existing key is never overwritten
    EXPECT_EQ(fileBytes(secret), secretBytes);

    const QByteArray zip = bundleZip(QStringLiteral("2.0"));
    QFile file(archive);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(zip) == zip.size() && file.flush());
    ASSERT_EQ(run({"sign", secret, archive}, &signature), 0);
    const QString manifest = root_.path() + QStringLiteral("/update.json"), url = server_.url(QStringLiteral("/u.zip"));
    ASSERT_EQ(run({"manifest", manifest, "2.0", url, QString::fromLatin1(signature), "Notes"}), 0);
    EXPECT_NE(run({"manifest", root_.path() + "/bad.json", "2.0", url, QString::fromLatin1(signature.left(87))}), 0);
    server_.route(QStringLiteral("/update.json"), fileBytes(manifest));
    server_.route(QStringLiteral("/u.zip"), zip);
    EXPECT_EQ(check(QString::fromLatin1(publicKey)), O::installing);
    EXPECT_EQ(fileBytes(temporary_ + QStringLiteral("/veskupdate-2.0/Ambrano.app/share/ambrano/version")), QByteArray("2.0\n"));

    // The tool's own check agrees, and catches a changed archive.
    EXPECT_EQ(run({"verify", QString::fromLatin1(publicKey), archive, QString::fromLatin1(signature)}), 0);
    file.seek(10);
    file.write(QByteArray(1, static_cast<char>(zip[10] ^ 0x20)));
    file.close();
    EXPECT_NE(run({"verify", QString::fromLatin1(publicKey), archive, QString::fromLatin1(signature)}), 0);
}
