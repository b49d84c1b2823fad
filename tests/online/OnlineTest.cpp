#include "online/Fetch.h"
#include "online/Tips.h"
#include "online/Updater.h"
#include "platform/Installer.h"
#include "platform/Signature.h"
#include "system/EventLog.h"
#include "system/Localization.h"
#include "support/LoopbackServer.h"
#include "support/TestEnvironment.h"
#include <gtest/gtest.h>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <sodium.h>

static QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
static bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

TEST(Fetch, CapsDeadlinesAndFailures)
{
    struct Outcome { int calls = 0; bool onMainThread = false; Fetch::Result result; };
    const auto start = [](const QString& url, const Fetch::Limits& limits, QObject* context = nullptr) {
        auto outcome = std::make_shared<Outcome>();
        Fetch::get(QUrl(url), limits, context, [outcome](const Fetch::Result& result) {
            *outcome = {outcome->calls + 1, QThread::currentThread() == qApp->thread(), result};
        });
        return outcome;
    };
    using F = Fetch::Failure;
    using R = LoopbackServer::Response;
    const QByteArray body(1000, 'b');
    const Fetch::Limits cap {1000, 5000, 0, "test body"};
    LoopbackServer server;
    const struct { QString url; R answer; Fetch::Limits limits; F failure; QByteArray body; int status; } cases[] = {
        {"/fits", {200, body}, cap, F::none, body, 200}, {"/at-cap-unannounced", {200, body, false}, cap, F::none, body, 200},
        {"/over-announced", {.body = body + 'b', .stallAfter = 10}, cap, F::tooLarge, {}, 0},  // stopped at the head
        {"/over-unannounced", {.body = body + body, .sendLength = false, .stallAfter = 1001}, cap, F::tooLarge, {}, 0},
        {"/missing", {404, "gone"}, cap, F::none, "gone", 404},  // the status is the caller's business
        {"/stalls", {.body = body, .stallAfter = 10}, {1 << 20, 0, 300, "stall"}, F::idle, {}, 0},
        {"/silent", {.silent = true}, {1 << 20, 300, 0, "silent"}, F::deadline, {}, 0},
        {LoopbackServer().url("/gone"), {}, cap, F::network, {}, 0},
        {"file:///etc/hostname", {}, cap, F::badAddress, {}, 0}, {"http://", {}, cap, F::badAddress, {}, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        server.route(c.url, c.answer);
        const QString logBefore = EventLog::shared().dump();
        auto outcome = start(c.url.startsWith(u'/') ? server.url(c.url) : c.url, c.limits);
        EXPECT_EQ(outcome->calls, 0);  // never from inside get()
        ASSERT_TRUE(waitFor([outcome] { return outcome->calls > 0; }, 10000));
        spin(50);
        const Fetch::Result& r = outcome->result;
        EXPECT_EQ(std::tuple(outcome->calls, outcome->onMainThread, r.failure, r.status, r.body), std::tuple(1, true, c.failure, c.status, c.body));
        EXPECT_EQ(EventLog::shared().dump() != logBefore, c.failure != F::none && c.failure != F::network && c.failure != F::badAddress);
    }
    EXPECT_EQ(server.requests().size(), 7);  // nothing asked for the bad addresses
    server.setFallback({.body = "late", .delayMs = 200});
    auto context = std::make_unique<QObject>();
    auto outcome = start(server.url(QStringLiteral("/x")), cap, context.get());
    ASSERT_TRUE(waitFor([&server] { return server.requests().size() == 8; }));
    context.reset();
    spin(400);
    EXPECT_EQ(outcome->calls, 0);
}

const QByteArray kFeedA = R"({"tips": [{"en": "Remote tip A", "es": "Consejo A"}], "about": {"en": "About A"}})";
const QByteArray kFeedB = R"({ "tips" : [ {"en":"Remote tip B"} ] , "ads": [] })";
const QString kFirstTip = QStringLiteral("Did you know screen blue light can delay your sleep by over an hour?");
using Drawn = std::pair<QString, QList<int>>;  // the text, and the bound of each draw

TEST(Tips, BuiltInAndRemoteMessagesStrictlyDecodedAndTheCachedFeedInForceBeforeTheNetworkAnswers)
{
    FreshSettings settings;
    const QString cache = settings.folder() + "/Halvex/tips.json";
    LoopbackServer server;
    QList<int> values, bounds;
    const auto make = [&](const QString& path = "/REPLACE/tips.json", bool fetch = false) {
        Localization::shared().set(Lang::en);
        auto tips = std::make_unique<Tips>(server.url(path));
        tips->setCachePath(cache);
        tips->setRandomSource([&](int bound) { return bounds.append(bound), values.isEmpty() ? 0 : values.takeFirst(); });
        bool done = !fetch;
        tips->onFetchFinished = [&done] { done = true; };
        if (fetch)
            tips->refreshRemote();
        EXPECT_TRUE(waitFor([&done] { return done; }));
        tips->onFetchFinished = nullptr;
        return tips;
    };
    const auto next = [&](Tips& tips, QList<int> draws) {
        values = std::move(draws), bounds.clear();
        return Drawn(tips.next().text, bounds);
    };
    const auto doc = [](const char* json) { return Tips::decode(json).value(); };
    auto tips = make();
    EXPECT_EQ(next(*tips, {1, 9}), Drawn(kFirstTip, {5, 9}));  // a draw out of range counts as 0
    EXPECT_EQ(next(*tips, {0, 0}), Drawn("Enjoying Ambrano? It's free forever — share it with anyone whose eyes get tired 💛", {5, 1}));
    Localization::shared().set(Lang::ca);
    const QString ca = next(*tips, {2, 5}).first;
    EXPECT_TRUE(ca.startsWith(QStringLiteral("Truc: prem ⌃⌥⌘Z")));
    const Drawn again = next(*tips, {1, 5, 4});  // the same text again is drawn once more
    EXPECT_TRUE(again.first != ca && again.second == QList<int>({5, 9, 9}));
    // Without ads no one-in-five draw; no Catalan text falls back to English, then to none.
    tips->apply(doc(R"({"tips": [{"en": "Only", "color": "#123", "url": "https://a"}, {"es": "Solo"}], "ads": []})"));
    EXPECT_EQ(tips->next(), (TipMessage {"Only", "#123", std::nullopt, "https://a"}));
    EXPECT_EQ(next(*tips, {1}), Drawn(QString(), {2}));
    tips->apply(doc(R"({"tips": [{"en": "One"}], "onActivate": {"es": "Hola", "url": "https://x"}, "about": {"en": "Credits"}})"));
    next(*tips, {0});
    EXPECT_EQ(next(*tips, {0, 0}), Drawn("One", {1}));  // a pool of one repeats
    // No activation text in Catalan or English and no picture: no message.
    EXPECT_TRUE(!tips->activationMessage() && tips->aboutInfo().text == QStringLiteral("Credits") && !tips->aboutInfo().url);
    // An empty list or a missing member never clears what came before; a picture alone is a message.
    tips->apply(doc(R"({"tips": [], "onActivate": {"image": "https://i"}, "about": {}})"));
    EXPECT_EQ(next(*tips, {0}).first + tips->aboutInfo().text, QStringLiteral("One"));
    EXPECT_EQ(tips->activationMessage(), (TipMessage {QString(), std::nullopt, "https://i", std::nullopt}));
    for (const char* body : {"", "[]", R"({"tips": [{"en": 5}]})", R"({"tips": [{"en": "ok"}, {"en": null}]})",
             R"({"tips": {"en": "x"}})", R"({"tips": ["x"]})", R"({"ads": {}})", R"({"onActivate": []})", R"({"about": "x"})",
             R"({"about": {"url": true}})", R"({"ads": [{"en": ["x"]}]})"})
        EXPECT_FALSE(Tips::decode(body)) << body;
    // Null counts as absent; unknown members are ignored; accepted: tips that are not empty, or ads of any length.
    const Tips::Document d = doc(R"({"tips": null, "ads": [], "onActivate": null, "about": {"fr": "x"}, "extra": 5})");
    EXPECT_TRUE(!d.tips && !d.onActivate && d.ads && d.ads->isEmpty() && d.about == (MessageSource {{"fr", "x"}}));
    EXPECT_TRUE(Tips::accepted(d) && Tips::accepted(doc(R"({"tips": [{}]})")));
    EXPECT_FALSE(Tips::accepted(doc(R"({"tips": [], "onActivate": {"en": "x"}, "about": {"en": "y"}})")));
    // Any body is tried whatever the status; the feed is cached byte for byte.
    server.route(QStringLiteral("/tips.json"), LoopbackServer::Response {500, kFeedA});
    make("/tips.json", true);
    ASSERT_EQ(readAll(cache), kFeedA);
    server.route(QStringLiteral("/tips.json"), LoopbackServer::Response {200, kFeedB, true, true});
    auto cached = make("/tips.json");
    cached->refreshRemote();
    EXPECT_EQ(next(*cached, {1, 0}).first, QStringLiteral("Remote tip A"));
    ASSERT_TRUE(waitFor([&] { return server.requests().size() == 2; }));
    server.releaseHeld();
    ASSERT_TRUE(waitFor([&] { return readAll(cache) == kFeedB; }));
    EXPECT_EQ(next(*cached, {0}).first + cached->aboutInfo().text, QStringLiteral("Remote tip BAbout A"));  // about is absent in B: kept
    // Feeds that are not accepted, not valid, or over the cap (cut off as they arrive) change nothing.
    for (const QByteArray& body : {QByteArray(R"({"tips": [], "about": {"en": "Not me"}})"),
             QByteArray(R"({"tips": [{"en": "Not me"}, {"en": 3}]})"),
             R"({"tips": [{"en": "Not me )" + QByteArray(Tips::maxFeedBytes, 'x') + R"("}]})"}) {
        server.route(QStringLiteral("/tips.json"), body);
        auto again = make("/tips.json", true);
        EXPECT_EQ(readAll(cache), kFeedB);
        EXPECT_EQ(next(*again, {0}).first + again->aboutInfo().text, QStringLiteral("Remote tip BThis is a 100% free app, made with care by Marren."));
    }
    // A cache over the cap, left by an earlier version that took any size, would stall every start.
    ASSERT_TRUE(writeAll(cache, R"({"tips": [{"en": "Cached )" + QByteArray(Tips::maxFeedBytes, 'x') + R"("}]})"));
    auto unset = make();
    unset->refreshRemote();
    spin(200);
    EXPECT_EQ(server.requests().count(QStringLiteral("/tips.json")), 5);  // no address yet: nothing asked
    EXPECT_EQ(next(*unset, {1, 0}).first, kFirstTip);
}

using O = Updater::Outcome;
static unsigned char* bytes(const QByteArray& data) { return reinterpret_cast<unsigned char*>(const_cast<char*>(data.constData())); }
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
static QByteArray manifestJSON(const QString& version, const QString& url, const QString& signature)
{
    return QJsonDocument(QJsonObject {{"version", version}, {"url", url}, {"signature", signature}, {"notes", "Fixes."}}).toJson();
}

TEST(Updater, VersionComparisonAndDecoding)
{
    const struct { const char *a, *b; int order; } cases[] = {{"1.10", "1.9", 1}, {"1.2", "1.2.0", 0}, {"2", "1.9.9", 1},
        {"1.2b", "1.2", -1}, {"2.0-beta", "1.9", 1}, {"1..2", "1.2", 0}, {"", "0.0", 0}, {"", "0.1", -1}, {"+2", "2", 0},
        {"-1", "0", -1}, {"-10", "-9", -1}, {"1. 2", "1.0", 0}, {"1.+", "1", 0}, {"9223372036854775807", "9223372036854775806", 1},
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
        return installed_ << (archive == zip_ ? version : QStringLiteral("other bytes")), true;
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
    const QByteArray tampered = zip_.chopped(1) + 'e';
    const QString signature = keys_.sign(zip_), key = keys_.publicB64(), url = server_.url("/u.zip");
    using R = LoopbackServer::Response;
    const struct { QString url; R archive; QString signature, key; O outcome; } cases[] = {
        {"not a url", {200, zip_}, signature, key, O::badArchiveURL}, {"file:///etc/passwd", {200, zip_}, signature, key, O::badArchiveURL},
        {url, {200, zip_ + 'x', false}, signature, key, O::downloadFailed}, {url, {200, {}}, signature, key, O::downloadFailed},
        {url, {.body = zip_, .stallAfter = zip_.size() / 2}, signature, key, O::downloadFailed},
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

TEST_F(UpdaterTest, TheReleaseToolMakesUpdatesTheAppAccepts)
{
    const QString tool = qEnvironmentVariable("AMBRANO_RELEASE_TOOL"), dir = settings_.folder();
    ASSERT_FALSE(tool.isEmpty()) << "ctest sets AMBRANO_RELEASE_TOOL";
    const auto release = [&tool](const QStringList& args) {
        QProcess process;
        process.start(tool, args);
        const bool ok = process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        return ok ? QString::fromUtf8(process.readAllStandardOutput().trimmed()) : QStringLiteral("failed");
    };
    const QString key = release({"keygen", dir + "/release key"}), secret = readAll(dir + "/release key");
    EXPECT_EQ(QFileInfo(dir + "/release key").permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), 0);
    EXPECT_EQ(release({"keygen", dir + "/release key"}), "failed");  // an existing key is never overwritten
    EXPECT_EQ(readAll(dir + "/release key"), secret);
    ASSERT_TRUE(writeAll(dir + "/a.zip", zip_));
    const QString signature = release({"sign", dir + "/release key", dir + "/a.zip"});
    ASSERT_NE(release({"manifest", dir + "/update.json", "2.0", server_.url("/u.zip"), signature, "Notes"}), "failed");
    EXPECT_EQ(release({"manifest", dir + "/bad.json", "2.0", server_.url("/u.zip"), signature.chopped(1)}), "failed");
    server_.route(QStringLiteral("/update.json"), readAll(dir + "/update.json"));
    server_.route(QStringLiteral("/u.zip"), zip_);
    EXPECT_EQ(run(key), O::installing);
}
