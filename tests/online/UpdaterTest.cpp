#include "UpdateFixture.h"

#include "platform/SettingsStore.h"

#include <QProcess>

namespace {

const QString kManifestKey = QString::fromLatin1(Updater::lastManifestVersionKey);

}  // namespace

TEST(UpdaterCompare, WorkedValues)
{
    EXPECT_EQ(Updater::compare(QStringLiteral("1.10"), QStringLiteral("1.9")), 1);
    EXPECT_EQ(Updater::compare(QStringLiteral("1.2"), QStringLiteral("1.2.0")), 0);
    EXPECT_EQ(Updater::compare(QStringLiteral("2"), QStringLiteral("1.9.9")), 1);
    EXPECT_EQ(Updater::compare(QStringLiteral("1.2b"), QStringLiteral("1.2")), -1);
    EXPECT_EQ(Updater::compare(QStringLiteral("2.0-beta"), QStringLiteral("1.9")), 1);

    EXPECT_EQ(Updater::compare(QStringLiteral("1.9"), QStringLiteral("1.10")), -1);
    EXPECT_EQ(Updater::compare(QStringLiteral("1..2"), QStringLiteral("1.2")), 0);
    EXPECT_EQ(Updater::compare(QString(), QStringLiteral("0.0")), 0);
    EXPECT_EQ(Updater::compare(QString(), QStringLiteral("0.1")), -1);
    EXPECT_EQ(Updater::compare(QStringLiteral("+2"), QStringLiteral("2")), 0);
    EXPECT_EQ(Updater::compare(QStringLiteral("-1"), QStringLiteral("0")), -1);
    EXPECT_EQ(Updater::compare(QStringLiteral("1. 2"), QStringLiteral("1.0")), 0);  // a blank is not a digit
    EXPECT_EQ(Updater::compare(QStringLiteral("1.+"), QStringLiteral("1")), 0);
    EXPECT_EQ(Updater::compare(QStringLiteral("9223372036854775807"), QStringLiteral("9223372036854775806")), 1);
    // Too large for 64 bits: counts as 0.
    EXPECT_EQ(Updater::compare(QStringLiteral("9223372036854775808"), QStringLiteral("1")), -1);
    EXPECT_EQ(Updater::compare(QStringLiteral("-9223372036854775808"), QStringLiteral("-9223372036854775807")), -1);
}

TEST(UpdaterManifest, Decoding)
{
    std::optional<Manifest> manifest = Manifest::decode(
        R"({"version": "1.4", "url": "http://h/a.zip", "signature": "c2ln", "other": 1})");
    ASSERT_TRUE(manifest);
    EXPECT_EQ(manifest->version, QStringLiteral("1.4"));
    EXPECT_EQ(manifest->url, QStringLiteral("http://h/a.zip"));
    EXPECT_EQ(manifest->signature, QStringLiteral("c2ln"));
    EXPECT_FALSE(manifest->notes);
    EXPECT_EQ(Manifest::decode(R"({"version": "1", "url": "u", "signature": "s", "notes": "n"})")->notes,
        QStringLiteral("n"));

    const char* invalid[] = {
        "",
        "[]",
        R"({"version": "1.4", "url": "http://h/a.zip"})",
        R"({"version": "1.4", "url": "http://h/a.zip", "signature": "s", "notes": 3})",
        R"({"version": "1.4", "url": "http://h/a.zip", "signature": "s", "notes": null})",
        R"({"version": 1.4, "url": "http://h/a.zip", "signature": "s"})",
        R"({"version": "1.4", "url": null, "signature": "s"})",
    };
    for (const char* body : invalid)
        EXPECT_FALSE(Manifest::decode(body)) << body;
}

TEST(UpdaterSignature, StrictBase64)
{
    EXPECT_EQ(Signature::decodeBase64(QStringLiteral("QUJD")), QByteArray("ABC"));
    EXPECT_EQ(Signature::decodeBase64(QStringLiteral("QUI=")), QByteArray("AB"));
    EXPECT_EQ(Signature::decodeBase64(QStringLiteral("QQ==")), QByteArray("A"));
    EXPECT_EQ(Signature::decodeBase64(QString()), QByteArray());
    for (const char* bad : {"QUI", "QQ", "QQ=", "QUJD\n", "QU JD", "QUJD=", "Q===", "QR==", "QU-_", "QUJD\r\nQUJD",
             "=QUJ", "QU=D"})
        EXPECT_FALSE(Signature::decodeBase64(QString::fromLatin1(bad))) << bad;
    EXPECT_FALSE(Signature::decodeBase64(QStringLiteral("QUJ\u0120")));
}

class UpdaterTest : public UpdateFixture {
protected:
    // Serves a manifest for the archive; the signature defaults to a valid one.
    void serve(const QByteArray& zip, const QString& version = QStringLiteral("1.4"),
        std::optional<QString> signature = std::nullopt)
    {
        server_.route(QStringLiteral("/u.zip"), zip);
        server_.route(QStringLiteral("/update.json"),
            manifestJSON(version, server_.url(QStringLiteral("/u.zip")), signature.value_or(keys_.sign(zip))));
    }
    QByteArray bundleZip(const QString& version = QStringLiteral("1.4")) const
    {
        return ZipBuilder().bundle(QStringLiteral("Ambrano.app"), version).build();
    }
    // A refused archive: the log says so, nothing is written, nothing is started.
    void expectRefused(Updater& updater)
    {
        EXPECT_EQ(check(updater), Updater::Outcome::badSignature);
        EXPECT_EQ(logLines(),
            (QStringList {QStringLiteral("update: manifest 1.4 vs current 1.3.0"),
                QStringLiteral("update: BAD signature, refusing")}));
        EXPECT_TRUE(temporaryEntries().isEmpty()) << temporaryEntries().join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(launcher_.calls().isEmpty());
        EXPECT_EQ(quitRequests_, 0);
    }

    KeyPair keys_;
};

TEST_F(UpdaterTest, PlaceholderKeyMakesNoRequest)
{
    serve(bundleZip());
    auto updater = makeUpdater(QStringLiteral("UPDATE_PUBLIC_KEY"));
    EXPECT_EQ(check(*updater), Updater::Outcome::notConfigured);
    spin(200);
    EXPECT_TRUE(server_.requests().isEmpty());
    EXPECT_FALSE(SettingsStore::shared().value(kManifestKey));
}

TEST_F(UpdaterTest, ManifestNotNewerStartsNoDownload)
{
    serve(bundleZip(), QStringLiteral("1.3"));
    auto updater = makeUpdater(keys_.publicB64());
    EXPECT_EQ(check(*updater), Updater::Outcome::notNewer);
    EXPECT_EQ(logLines(), QStringList {QStringLiteral("update: manifest 1.3 vs current 1.3.0")});
    EXPECT_EQ(server_.requests(), QStringList {QStringLiteral("/update.json")});
    EXPECT_EQ(SettingsStore::shared().stringValue(kManifestKey), QStringLiteral("1.3"));
}

TEST_F(UpdaterTest, InvalidManifestIsIgnoredWholly)
{
    SettingsStore::shared().setValue(kManifestKey, QStringLiteral("1.2"));  // from an earlier launch
    auto updater = makeUpdater(keys_.publicB64());
    const QString url = server_.url(QStringLiteral("/u.zip"));
    const QByteArray bodies[] = {
        R"({"version": "9", "url": "http://x/u.zip"})",
        R"({"version": "9", "url": "http://x/u.zip", "signature": "s", "notes": 2})",
        "9",
        "",
        // Well formed, but the version is no version: it would be stored and logged.
        manifestJSON(QStringLiteral("9.0 ") + QString(200, u'x'), url, keys_.sign("x")),
        manifestJSON(QStringLiteral("9.0\nupdate: signature OK"), url, keys_.sign("x")),
        // Well formed, but over the manifest's cap.
        manifestJSON(QStringLiteral("9.0"), url, keys_.sign("x") + QString(Updater::maxManifestBytes, u' ')),
    };
    for (const QByteArray& body : bodies) {
        server_.route(QStringLiteral("/update.json"), body);
        EXPECT_EQ(check(*updater), Updater::Outcome::noManifest) << body.left(60).constData();
    }
    EXPECT_EQ(server_.count(QStringLiteral("/update.json")), 7);
    EXPECT_EQ(server_.count(QStringLiteral("/u.zip")), 0);
    EXPECT_TRUE(logLines().isEmpty());
    EXPECT_EQ(SettingsStore::shared().stringValue(kManifestKey), QStringLiteral("1.2"));
}

TEST_F(UpdaterTest, UnknownRunningVersionCountsAsZero)
{
    serve(bundleZip());
    auto updater = makeUpdater(keys_.publicB64());
    updater->setCurrentVersion(QString());
    EXPECT_EQ(updater->currentVersion(), QStringLiteral("0"));
    EXPECT_EQ(check(*updater), Updater::Outcome::installing);
    EXPECT_EQ(logLines().value(0), QStringLiteral("update: manifest 1.4 vs current 0"));
    EXPECT_EQ(server_.count(QStringLiteral("/u.zip")), 1);
}

TEST_F(UpdaterTest, VerifiedArchiveIsInstalled)
{
    const QByteArray zip = bundleZip();
    serve(zip);
    auto updater = makeUpdater(keys_.publicB64());
    EXPECT_EQ(check(*updater), Updater::Outcome::installing);
    EXPECT_EQ(logLines(),
        (QStringList {QStringLiteral("update: manifest 1.4 vs current 1.3.0"),
            QStringLiteral("update: signature OK, installing 1.4")}));
    EXPECT_EQ(SettingsStore::shared().stringValue(kManifestKey), QStringLiteral("1.4"));

    const QString work = temporary_ + QStringLiteral("/veskupdate-1.4");
    EXPECT_EQ(fileBytes(work + QStringLiteral("/u.zip")), zip);
    EXPECT_TRUE(QFileInfo(work + QStringLiteral("/swap.sh")).isExecutable());
    EXPECT_EQ(QFileInfo(work).permissions() & (QFileDevice::WriteGroup | QFileDevice::WriteOther), 0);

    const QList<FakeProcessLauncher::Call> calls = launcher_.calls();
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls[0].program, QStringLiteral("/bin/bash"));
    EXPECT_EQ(calls[0].arguments,
        (QStringList {work + QStringLiteral("/swap.sh"), QStringLiteral("999999"), work + QStringLiteral("/Ambrano.app"),
            installedBundle()}));
    EXPECT_EQ(quitRequests_, 1);
}

TEST_F(UpdaterTest, ChangedLastByteIsRefused)
{
    const QByteArray zip = bundleZip();
    QByteArray tampered = zip;
    tampered[tampered.size() - 1] = static_cast<char>(tampered.back() ^ 0x01);
    serve(tampered, QStringLiteral("1.4"), keys_.sign(zip));
    auto updater = makeUpdater(keys_.publicB64());
    expectRefused(*updater);
}

TEST_F(UpdaterTest, SignatureWithALineBreakIsRefused)
{
    const QByteArray zip = bundleZip();
    const QString signature = keys_.sign(zip);
    ASSERT_EQ(signature.size(), 88);
    serve(zip, QStringLiteral("1.4"), signature.left(44) + QLatin1Char('\n') + signature.mid(44));
    auto updater = makeUpdater(keys_.publicB64());
    expectRefused(*updater);
}

TEST_F(UpdaterTest, SignatureWithoutPaddingIsRefused)
{
    const QByteArray zip = bundleZip();
    QString signature = keys_.sign(zip);
    ASSERT_TRUE(signature.endsWith(QStringLiteral("==")));
    signature.chop(2);
    serve(zip, QStringLiteral("1.4"), signature);
    auto updater = makeUpdater(keys_.publicB64());
    expectRefused(*updater);
}

TEST_F(UpdaterTest, KeyOfTheWrongLengthIsRefused)
{
    const QByteArray zip = bundleZip();
    serve(zip);
    auto shortKey = makeUpdater(Signature::encodeBase64(keys_.publicKey.left(31)));
    expectRefused(*shortKey);

    resetLog();
    auto longKey = makeUpdater(Signature::encodeBase64(keys_.publicKey + QByteArray(1, '\0')));
    expectRefused(*longKey);

    resetLog();
    QString unpadded = keys_.publicB64();
    ASSERT_TRUE(unpadded.endsWith(QLatin1Char('=')));
    unpadded.chop(1);
    auto noPadding = makeUpdater(unpadded);
    expectRefused(*noPadding);

    resetLog();
    auto otherKey = makeUpdater(KeyPair().publicB64());
    expectRefused(*otherKey);
}

TEST_F(UpdaterTest, InvalidArchiveAddressEndsSilently)
{
    for (const QString& url : {QStringLiteral("not a url"), QStringLiteral("file:///etc/passwd")}) {
        resetLog();
        server_.route(QStringLiteral("/update.json"), manifestJSON(QStringLiteral("1.4"), url, keys_.sign("x")));
        auto updater = makeUpdater(keys_.publicB64());
        EXPECT_EQ(check(*updater), Updater::Outcome::badArchiveURL);
        EXPECT_EQ(logLines(), QStringList {QStringLiteral("update: manifest 1.4 vs current 1.3.0")});
    }
    EXPECT_EQ(server_.requests(), (QStringList {QStringLiteral("/update.json"), QStringLiteral("/update.json")}));
    EXPECT_TRUE(temporaryEntries().isEmpty());
}

// The archive goes through the capped download (whose limits have their own test).
TEST_F(UpdaterTest, ArchiveOverTheCapOrStalledIsDropped)
{
    const QByteArray zip = bundleZip();
    struct Case {
        LoopbackServer::Response answer;
        qint64 cap;
    };
    const Case cases[] = {
        {{200, zip, false}, zip.size() - 1},
        {LoopbackServer::Response::stalling(zip, zip.size() / 2), Updater::defaultMaxDownloadBytes},
    };
    for (const Case& c : cases) {
        resetLog();
        serve(zip);
        server_.route(QStringLiteral("/u.zip"), c.answer);
        auto updater = makeUpdater(keys_.publicB64());
        updater->setMaxDownloadBytes(c.cap);
        updater->setArchiveIdleTimeoutMs(300);
        EXPECT_EQ(check(*updater), Updater::Outcome::downloadFailed) << c.cap;
        EXPECT_EQ(logLines(), QStringList {QStringLiteral("update: manifest 1.4 vs current 1.3.0")});
        EXPECT_TRUE(temporaryEntries().isEmpty());
        EXPECT_TRUE(launcher_.calls().isEmpty());
    }
}

TEST_F(UpdaterTest, UnreachableArchiveEndsSilently)
{
    quint16 closedPort = 0;
    {
        LoopbackServer gone;
        closedPort = gone.port();
    }
    server_.route(QStringLiteral("/update.json"),
        manifestJSON(QStringLiteral("1.4"), QStringLiteral("http://127.0.0.1:%1/u.zip").arg(closedPort), keys_.sign("x")));
    auto updater = makeUpdater(keys_.publicB64());
    EXPECT_EQ(check(*updater), Updater::Outcome::downloadFailed);
    EXPECT_EQ(logLines(), QStringList {QStringLiteral("update: manifest 1.4 vs current 1.3.0")});
}

TEST_F(UpdaterTest, UnreachableServerIsSilent)
{
    quint16 closedPort = 0;
    {
        LoopbackServer gone;
        closedPort = gone.port();
    }
    Updater updater(QStringLiteral("http://127.0.0.1:%1/update.json").arg(closedPort), keys_.publicB64());
    updater.setEventLog(log_.get());
    EXPECT_EQ(check(updater), Updater::Outcome::noManifest);
    EXPECT_TRUE(logLines().isEmpty());
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
    const QString secret = root_.path() + QStringLiteral("/release key");
    QByteArray publicKey;
    ASSERT_EQ(run({QStringLiteral("keygen"), secret}, &publicKey), 0);
    EXPECT_EQ(publicKey.size(), 44);
    EXPECT_TRUE(publicKey.endsWith('=') && !publicKey.endsWith("=="));
    EXPECT_EQ(QFileInfo(secret).permissions(),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);
    // An existing key is never overwritten.
    const QByteArray secretBytes = fileBytes(secret);
    EXPECT_NE(run({QStringLiteral("keygen"), secret}), 0);
    EXPECT_EQ(fileBytes(secret), secretBytes);

    const QByteArray zip = bundleZip(QStringLiteral("2.0"));
    const QString archive = root_.path() + QStringLiteral("/Ambrano-2.0.zip");
    ASSERT_TRUE(writeFile(archive, zip));
    QByteArray signature;
    ASSERT_EQ(run({QStringLiteral("sign"), secret, archive}, &signature), 0);
    EXPECT_EQ(signature.size(), 88);

    const QString manifest = root_.path() + QStringLiteral("/update.json");
    ASSERT_EQ(run({QStringLiteral("manifest"), manifest, QStringLiteral("2.0"), server_.url(QStringLiteral("/u.zip")),
                  QString::fromLatin1(signature), QStringLiteral("Notes")}),
        0);
    EXPECT_NE(run({QStringLiteral("manifest"), manifest, QStringLiteral("2.0"), server_.url(QStringLiteral("/u.zip")),
                  QString::fromLatin1(signature.left(87))}),
        0);
    server_.route(QStringLiteral("/update.json"), fileBytes(manifest));
    server_.route(QStringLiteral("/u.zip"), zip);

    auto updater = makeUpdater(QString::fromLatin1(publicKey));
    EXPECT_EQ(check(*updater), Updater::Outcome::installing);
    EXPECT_EQ(logLines().value(1), QStringLiteral("update: signature OK, installing 2.0"));
    EXPECT_EQ(fileBytes(temporary_ + QStringLiteral("/veskupdate-2.0/Ambrano.app/share/ambrano/version")), QByteArray("2.0\n"));

    // The tool's own check agrees, and catches a changed archive.
    EXPECT_EQ(run({QStringLiteral("verify"), QString::fromLatin1(publicKey), archive, QString::fromLatin1(signature)}), 0);
    QByteArray changed = zip;
    changed[10] = static_cast<char>(changed[10] ^ 0x20);
    ASSERT_TRUE(writeFile(archive, changed));
    EXPECT_NE(run({QStringLiteral("verify"), QString::fromLatin1(publicKey), archive, QString::fromLatin1(signature)}), 0);
}
