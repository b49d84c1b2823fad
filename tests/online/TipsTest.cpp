#include "online/Tips.h"
#include "system/Localization.h"

#include "Printers.h"
#include "support/LoopbackServer.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>

namespace {

// Plays back fixed draws and records the bound of each.
struct ScriptedRandom {
    QList<int> values;
    QList<int> bounds;
};

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

class TipsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Localization::shared().set(Lang::en);
        random_ = std::make_shared<ScriptedRandom>();
    }

    // A Tips with scripted draws and a private cache file.
    std::unique_ptr<Tips> make(const QString& url = QStringLiteral("http://REPLACE.invalid/tips.json"))
    {
        auto tips = std::make_unique<Tips>(url);
        tips->setCachePath(cachePath());
        auto random = random_;
        tips->setRandomSource([random](int bound) {
            random->bounds.append(bound);
            return random->values.isEmpty() ? 0 : random->values.takeFirst();
        });
        return tips;
    }
    QString cachePath() const { return dir_.path() + QStringLiteral("/Halvex/tips.json"); }
    void draws(QList<int> values) { random_->values = std::move(values), random_->bounds.clear(); }
    QList<int> bounds() const { return random_->bounds; }

    // Fetches once from the server and waits until the answer has been handled.
    static void fetch(Tips& tips)
    {
        bool done = false;
        tips.onFetchFinished = [&done] { done = true; };
        tips.refreshRemote();
        ASSERT_TRUE(waitFor([&done] { return done; }));
        tips.onFetchFinished = nullptr;
    }

    FreshSettings settings_;
    QTemporaryDir dir_;
    std::shared_ptr<ScriptedRandom> random_;
};

const QByteArray kFeedA = R"({"tips": [{"en": "Remote tip A", "es": "Consejo A"}], "about": {"en": "About A"}})";
const QByteArray kFeedB = R"({ "tips" : [ {"en":"Remote tip B"} ] ,
  "ads": [] })";

}  // namespace

TEST_F(TipsTest, BuiltInTipsInTheCurrentLanguage)
{
    auto tips = make();
    draws({1, 0});
    EXPECT_EQ(tips->next().text, QStringLiteral("Did you know screen blue light can delay your sleep by over an hour?"));
    EXPECT_EQ(bounds(), (QList<int> {5, 9}));

    Localization::shared().set(Lang::es);
    draws({4, 8});
    EXPECT_EQ(tips->next().text,
        QStringLiteral("¿Sabías que las capturas y videollamadas salen con color normal aunque filtres?"));
    Localization::shared().set(Lang::ca);
    draws({2, 5});
    const TipMessage tip = tips->next();
    EXPECT_EQ(tip.text,
        QStringLiteral("Truc: prem ⌃⌥⌘Z per encendre o apagar el filtre a l'instant des de qualsevol app."));
    EXPECT_EQ(tip, (TipMessage {tip.text, std::nullopt, std::nullopt, std::nullopt}));
}

TEST_F(TipsTest, NineDistinctBuiltInTipsAndOnePromotionalMessage)
{
    auto tips = make();
    QStringList seen;
    for (int i = 0; i < 9; ++i) {
        draws({1, i});
        seen.append(tips->next().text);
    }
    seen.removeDuplicates();
    EXPECT_EQ(seen.size(), 9);
    EXPECT_EQ(seen[7], QStringLiteral("PWM-Safe mode pins brightness to 100 % and dims in software — no flicker."));

    // A draw of 0 out of 5 picks the promotional pool (one entry).
    draws({0, 0});
    EXPECT_EQ(tips->next().text,
        QStringLiteral("Enjoying Ambrano? It's free forever — share it with anyone whose eyes get tired 💛"));
    EXPECT_EQ(bounds(), (QList<int> {5, 1}));
    for (int pick = 1; pick <= 4; ++pick) {
        draws({pick, pick + 3});
        EXPECT_EQ(tips->next().text, seen[pick + 3]);
    }
}

TEST_F(TipsTest, RepeatedTextIsDrawnAgainOnceOnly)
{
    auto tips = make();
    draws({1, 2});
    const QString third = tips->next().text;
    EXPECT_EQ(tips->last(), third);

    draws({1, 2, 4});
    const QString fifth = tips->next().text;
    EXPECT_NE(fifth, third);
    EXPECT_EQ(bounds(), (QList<int> {5, 9, 9}));

    // The second draw may land on the same entry again: there is no third draw.
    draws({1, 4, 4, 7});
    EXPECT_EQ(tips->next().text, fifth);
    EXPECT_EQ(bounds(), (QList<int> {5, 9, 9}));
}

TEST_F(TipsTest, EmptyAdsSwitchPromotionsOffAndAPoolOfOneRepeats)
{
    auto tips = make();
    tips->apply(*Tips::decode(R"({"tips": [{"en": "Only", "color": "#112233", "url": "https://a"}], "ads": []})"));
    for (int i = 0; i < 3; ++i) {
        draws({0, 0});
        const TipMessage tip = tips->next();
        EXPECT_EQ(tip, (TipMessage {QStringLiteral("Only"), QStringLiteral("#112233"), std::nullopt,
                           QStringLiteral("https://a")}));
        // No one-in-five draw without promotional messages.
        EXPECT_EQ(bounds(), (QList<int> {1}));
    }
}

TEST_F(TipsTest, TextFallsBackToEnglishThenToEmpty)
{
    auto tips = make();
    Localization::shared().set(Lang::ca);
    tips->apply(*Tips::decode(R"({"tips": [{"en": "English", "es": "Español"}, {"es": "Solo"}], "ads": []})"));
    draws({0});
    EXPECT_EQ(tips->next().text, QStringLiteral("English"));
    draws({1});
    EXPECT_EQ(tips->next().text, QString());
}

TEST_F(TipsTest, ActivationMessage)
{
    auto tips = make();
    std::optional<TipMessage> message = tips->activationMessage();
    ASSERT_TRUE(message);
    EXPECT_EQ(message->text, QStringLiteral("Filter on! Tap here to learn about blue light 👁️"));
    EXPECT_EQ(message->colorHex, QStringLiteral("#7FB3FF"));
    EXPECT_TRUE(message->imageURL && message->imageURL->startsWith(QStringLiteral("https://")));
    EXPECT_TRUE(message->linkURL && message->linkURL->startsWith(QStringLiteral("https://")));
    Localization::shared().set(Lang::es);
    EXPECT_EQ(tips->activationMessage()->text, QStringLiteral("¡Filtro activado! Toca aquí para saber más sobre la luz azul 👁️"));
    Localization::shared().set(Lang::ca);
    EXPECT_EQ(tips->activationMessage()->text, QStringLiteral("Filtre activat! Toca aquí per saber-ne més sobre la llum blava 👁️"));

    // Neither Catalan nor English text, and no picture: nothing to show.
    tips->apply(*Tips::decode(R"({"onActivate": {"es": "Hola", "url": "https://x"}})"));
    EXPECT_FALSE(tips->activationMessage());
    // A picture alone is enough.
    tips->apply(*Tips::decode(R"({"onActivate": {"image": "https://i"}})"));
    EXPECT_EQ(tips->activationMessage(), (TipMessage {QString(), std::nullopt, QStringLiteral("https://i"), std::nullopt}));
}

TEST_F(TipsTest, AboutInfo)
{
    auto tips = make();
    Tips::About about = tips->aboutInfo();
    EXPECT_EQ(about.text, QStringLiteral("This is a 100% free app, made with care by Marren."));
    EXPECT_TRUE(about.url.has_value());
    Localization::shared().set(Lang::ca);
    EXPECT_EQ(tips->aboutInfo().text, QStringLiteral("Aquesta és una app 100% gratuïta, feta amb cura per Marren."));

    tips->apply(*Tips::decode(R"({"about": {"en": "Credits", "image": "https://ignored"}})"));
    about = tips->aboutInfo();
    EXPECT_EQ(about.text, QStringLiteral("Credits"));
    EXPECT_FALSE(about.url.has_value());
    tips->apply(*Tips::decode(R"({"about": {}})"));
    about = tips->aboutInfo();
    EXPECT_EQ(about.text, QString());
    EXPECT_FALSE(about.url.has_value());
}

TEST_F(TipsTest, DocumentValidationIsStrict)
{
    const char* invalid[] = {
        "",
        "not json",
        "[]",
        R"({"tips": [{"en": 5}]})",
        R"({"tips": [{"en": "ok"}, {"en": null}]})",
        R"({"tips": {"en": "x"}})",
        R"({"tips": ["x"]})",
        R"({"tips": [{"en": "ok"}], "ads": {}})",
        R"({"tips": [{"en": "ok"}], "onActivate": []})",
        R"({"tips": [{"en": "ok"}], "about": "x"})",
        R"({"tips": [{"en": "ok"}], "about": {"url": true}})",
        R"({"tips": [{"en": "ok"}], "ads": [{"en": ["x"]}]})",
    };
    for (const char* body : invalid)
        EXPECT_FALSE(Tips::decode(body).has_value()) << body;

    // Null counts as absent; unknown members of any type are ignored.
    const std::optional<Tips::Document> doc =
        Tips::decode(R"({"tips": null, "ads": [], "onActivate": null, "about": {"fr": "x"}, "extra": 5})");
    ASSERT_TRUE(doc);
    EXPECT_FALSE(doc->tips);
    EXPECT_TRUE(doc->ads && doc->ads->isEmpty());
    EXPECT_FALSE(doc->onActivate);
    EXPECT_EQ(doc->about, (MessageSource {{QStringLiteral("fr"), QStringLiteral("x")}}));
}

TEST_F(TipsTest, AcceptanceAndApplyingNeverClearEarlierValues)
{
    EXPECT_FALSE(Tips::accepted(*Tips::decode(R"({"tips": []})")));
    EXPECT_FALSE(Tips::accepted(*Tips::decode(R"({"onActivate": {"en": "x"}, "about": {"en": "y"}})")));
    EXPECT_TRUE(Tips::accepted(*Tips::decode(R"({"ads": []})")));
    EXPECT_TRUE(Tips::accepted(*Tips::decode(R"({"tips": [{}]})")));

    auto tips = make();
    tips->apply(*Tips::decode(R"({"tips": [{"en": "First"}], "onActivate": {"en": "On"}, "ads": []})"));
    tips->apply(*Tips::decode(R"({"tips": [], "about": {"en": "Later"}})"));
    draws({0});
    EXPECT_EQ(tips->next().text, QStringLiteral("First"));
    EXPECT_EQ(tips->activationMessage()->text, QStringLiteral("On"));
    EXPECT_EQ(tips->aboutInfo().text, QStringLiteral("Later"));
    // A later document without "ads" keeps them off.
    tips->apply(*Tips::decode(R"({"tips": [{"en": "Second"}]})"));
    draws({0});
    EXPECT_EQ(tips->next().text, QStringLiteral("Second"));
    EXPECT_EQ(bounds(), (QList<int> {1}));
}

TEST_F(TipsTest, AcceptedFeedIsUsedAndCachedByteForByte)
{
    LoopbackServer server;
    server.route(QStringLiteral("/tips.json"), kFeedB);
    auto tips = make(server.url(QStringLiteral("/tips.json")));
    fetch(*tips);
    EXPECT_EQ(server.count(QStringLiteral("/tips.json")), 1);
    EXPECT_EQ(readAll(cachePath()), kFeedB);
    draws({0});
    EXPECT_EQ(tips->next().text, QStringLiteral("Remote tip B"));
    EXPECT_EQ(bounds(), (QList<int> {1}));
}

TEST_F(TipsTest, AnyBodyIsTriedWhateverTheStatus)
{
    LoopbackServer server;
    server.route(QStringLiteral("/tips.json"), LoopbackServer::Response {500, kFeedA, true, false});
    auto tips = make(server.url(QStringLiteral("/tips.json")));
    fetch(*tips);
    EXPECT_EQ(readAll(cachePath()), kFeedA);
    EXPECT_EQ(tips->aboutInfo().text, QStringLiteral("About A"));
}

TEST_F(TipsTest, RejectedFeedsChangeNothing)
{
    writeAll(cachePath(), kFeedA);  // an earlier launch's feed
    const QByteArray rejected[] = {
        R"({"tips": [], "about": {"en": "Not me"}})",
        R"({"tips": [{"en": "Not me"}, {"en": 3}]})",
        R"({"onActivate": {"en": "Not me"}})",
        "<html>Not me</html>",
        // A well-formed feed over the cap: cut off as it arrives.
        R"({"tips": [{"en": "Not me )" + QByteArray(Tips::maxFeedBytes, 'x') + R"("}]})",
    };
    for (const QByteArray& body : rejected) {
        LoopbackServer server;
        server.route(QStringLiteral("/tips.json"), body);
        auto tips = make(server.url(QStringLiteral("/tips.json")));
        fetch(*tips);
        EXPECT_EQ(server.count(QStringLiteral("/tips.json")), 1);
        const std::string shown = body.left(60).toStdString();
        EXPECT_EQ(readAll(cachePath()), kFeedA) << shown;
        draws({1, 0});
        EXPECT_EQ(tips->next().text, QStringLiteral("Remote tip A")) << shown;
        EXPECT_EQ(tips->aboutInfo().text, QStringLiteral("About A")) << shown;
        EXPECT_EQ(tips->activationMessage()->text,
            QStringLiteral("Filter on! Tap here to learn about blue light 👁️"));
    }
}

TEST_F(TipsTest, CachedFeedIsInForceBeforeTheNetworkAnswers)
{
    // First launch: the feed is fetched and cached.
    LoopbackServer server;
    server.route(QStringLiteral("/tips.json"), kFeedA);
    {
        auto first = make(server.url(QStringLiteral("/tips.json")));
        fetch(*first);
    }
    ASSERT_EQ(readAll(cachePath()), kFeedA);

    // Next launch: the server is slow to answer with a new feed.
    server.route(QStringLiteral("/tips.json"), LoopbackServer::Response {200, kFeedB, true, true});
    auto second = make(server.url(QStringLiteral("/tips.json")));
    bool done = false;
    second->onFetchFinished = [&done] { done = true; };
    second->refreshRemote();
    draws({1, 0});
    EXPECT_EQ(second->next().text, QStringLiteral("Remote tip A"));
    ASSERT_TRUE(waitFor([&server] { return server.heldCount() == 1; }));
    EXPECT_FALSE(done);
    draws({1, 0});
    EXPECT_EQ(second->next().text, QStringLiteral("Remote tip A"));

    server.releaseHeld();
    ASSERT_TRUE(waitFor([&done] { return done; }));
    draws({0});
    EXPECT_EQ(second->next().text, QStringLiteral("Remote tip B"));
    EXPECT_EQ(second->aboutInfo().text, QStringLiteral("About A"));  // absent in B: kept
    EXPECT_EQ(readAll(cachePath()), kFeedB);
}

TEST_F(TipsTest, CacheOverTheFeedCapIsNotRead)
{
    // Left by an earlier version that took any size; parsed at every start, it would stall it.
    writeAll(cachePath(), R"({"tips": [{"en": "Cached )" + QByteArray(Tips::maxFeedBytes, 'x') + R"("}]})");
    auto tips = make();
    tips->refreshRemote();
    draws({1, 0});
    EXPECT_EQ(tips->next().text, QStringLiteral("Did you know screen blue light can delay your sleep by over an hour?"));
}

TEST_F(TipsTest, UnconfiguredAddressMakesNoRequest)
{
    LoopbackServer server;
    server.route(QStringLiteral("/REPLACE/tips.json"), kFeedB);
    writeAll(cachePath(), kFeedA);
    auto tips = make(server.url(QStringLiteral("/REPLACE/tips.json")));
    tips->refreshRemote();
    spin(300);
    EXPECT_TRUE(server.requests().isEmpty());
    draws({1, 0});
    EXPECT_EQ(tips->next().text, QStringLiteral("Remote tip A"));
    EXPECT_EQ(readAll(cachePath()), kFeedA);
}

TEST_F(TipsTest, UnreachableServerAndUnwritableCacheAreSilent)
{
    quint16 closedPort = 0;
    {
        LoopbackServer gone;
        closedPort = gone.port();
    }
    auto tips = make(QStringLiteral("http://127.0.0.1:%1/tips.json").arg(closedPort));
    fetch(*tips);
    EXPECT_FALSE(QFile::exists(cachePath()));
    draws({1, 0});
    EXPECT_EQ(tips->next().text, QStringLiteral("Did you know screen blue light can delay your sleep by over an hour?"));

    // The cache's folder is taken by a file: the feed is still used, nothing is written.
    LoopbackServer server;
    server.route(QStringLiteral("/tips.json"), kFeedB);
    writeAll(dir_.path() + QStringLiteral("/blocked"), "x");
    auto blocked = make(server.url(QStringLiteral("/tips.json")));
    blocked->setCachePath(dir_.path() + QStringLiteral("/blocked/tips.json"));
    fetch(*blocked);
    EXPECT_EQ(readAll(dir_.path() + QStringLiteral("/blocked")), QByteArray("x"));
    draws({0});
    EXPECT_EQ(blocked->next().text, QStringLiteral("Remote tip B"));
}

TEST_F(TipsTest, DefaultCacheLivesInTheDataFolder)
{
    Tips tips(QStringLiteral("http://REPLACE/tips.json"));
    const QString expected = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Halvex/tips.json");
    EXPECT_EQ(tips.cacheURL(), expected);
    EXPECT_TRUE(QFileInfo(expected).dir().exists());
}
