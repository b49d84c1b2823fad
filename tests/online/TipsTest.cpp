// Tips: built-in and remote messages, the feed's strict decoding, and its cache.
#include "online/Tips.h"
#include "system/Localization.h"

#include "Helpers.h"
#include "support/LoopbackServer.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

namespace {

const QByteArray kFeedA = R"({"tips": [{"en": "Remote tip A", "es": "Consejo A"}], "about": {"en": "About A"}})";
const QByteArray kFeedB = R"({ "tips" : [ {"en":"Remote tip B"} ] ,
  "ads": [] })";
const QString kFirstTip = QStringLiteral("Did you know screen blue light can delay your sleep by over an hour?");

class TipsTest : public ::testing::Test {
protected:
    TipsTest() { Localization::shared().set(Lang::en); }

    // A Tips with scripted draws (recording the bound of each) and a private cache file.
    std::unique_ptr<Tips> make(const QString& url = QStringLiteral("http://REPLACE.invalid/tips.json"))
    {
        auto tips = std::make_unique<Tips>(url);
        tips->setCachePath(cachePath());
        tips->setRandomSource([this](int bound) {
            bounds_.append(bound);
            return values_.isEmpty() ? 0 : values_.takeFirst();
        });
        return tips;
    }
    QString cachePath() const { return dir_.path() + QStringLiteral("/Halvex/tips.json"); }
    QString next(Tips& tips, QList<int> draws)
    {
        values_ = std::move(draws);
        bounds_.clear();
        return tips.next().text;
    }
    // Fetches once from the server and waits until the answer has been handled.
    static void fetch(Tips& tips)
    {
        bool done = false;
        tips.onFetchFinished = [&done] { done = true; };
        tips.refreshRemote();
        ASSERT_TRUE(waitFor([&done] { return done; }));
    }
    static Tips::Document doc(const char* json) { return Tips::decode(json).value(); }

    FreshSettings settings_;
    QTemporaryDir dir_;
    LoopbackServer server_;
    QList<int> values_, bounds_;
};

}  // namespace

TEST_F(TipsTest, BuiltInMessagesOneInFiveAPromotionAndOneRedraw)
{
    auto tips = make();
    EXPECT_EQ(next(*tips, {1, 9}), kFirstTip);  // a draw out of range counts as 0
    EXPECT_EQ(bounds_, (QList<int> {5, 9}));
    EXPECT_EQ(next(*tips, {0, 0}), QStringLiteral("Enjoying Ambrano? It's free forever — share it with anyone whose eyes get tired 💛"));
    EXPECT_EQ(bounds_, (QList<int> {5, 1}));
    Localization::shared().set(Lang::ca);
    const QString ca = next(*tips, {2, 5});
    EXPECT_EQ(ca, QStringLiteral("Truc: prem ⌃⌥⌘Z per encendre o apagar el filtre a l'instant des de qualsevol app."));
    EXPECT_EQ(tips->last(), ca);

    // The same text again is drawn once more; the second draw may land on it again.
    EXPECT_NE(next(*tips, {1, 5, 4}), ca);
    EXPECT_EQ(bounds_, (QList<int> {5, 9, 9}));
    const QString fifth = tips->last();
    EXPECT_EQ(next(*tips, {1, 4, 4, 7}), fifth);
    EXPECT_EQ(bounds_, (QList<int> {5, 9, 9}));
}

TEST_F(TipsTest, RemoteMessagesAndTheirFallbacks)
{
    auto tips = make();
    EXPECT_EQ(tips->activationMessage(), (TipMessage {"Filter on! Tap here to learn about blue light 👁️", "#7FB3FF",
        "https://placehold.co/200x200/7FB3FF/0a0a0a.png?text=VESK", "https://en.wikipedia.org/wiki/Blue_light"}));
    EXPECT_EQ(tips->aboutInfo().url, QStringLiteral("https://marren.dev"));
    Localization::shared().set(Lang::ca);
    EXPECT_EQ(tips->aboutInfo().text, QStringLiteral("Aquesta és una app 100% gratuïta, feta amb cura per Marren."));

    // Without "ads" no one-in-five draw; a pool of one repeats; no Catalan text falls back to English, then to none.
    tips->apply(doc(R"({"tips": [{"en": "Only", "color": "#123", "url": "https://a"}, {"es": "Solo"}], "ads": []})"));
    EXPECT_EQ(next(*tips, {0}), QStringLiteral("Only"));
    EXPECT_EQ(bounds_, QList<int> {2});
    EXPECT_EQ(tips->next(), (TipMessage {"Only", "#123", std::nullopt, "https://a"}));
    EXPECT_EQ(next(*tips, {1}), QString());
    tips->apply(doc(R"({"tips": [{"en": "One"}], "onActivate": {"es": "Hola", "url": "https://x"}, "about": {"en": "Credits"}})"));
    EXPECT_EQ(next(*tips, {0, 0}), QStringLiteral("One"));
    EXPECT_EQ(next(*tips, {0, 0}), QStringLiteral("One"));
    EXPECT_EQ(bounds_, QList<int> {1});
    EXPECT_FALSE(tips->activationMessage());  // no text in Catalan or English and no picture
    EXPECT_EQ(tips->aboutInfo().text, QStringLiteral("Credits"));
    EXPECT_FALSE(tips->aboutInfo().url);

    // An empty list or a missing member never clears what came before; a picture alone is a message.
    tips->apply(doc(R"({"tips": [], "onActivate": {"image": "https://i"}, "about": {}})"));
    EXPECT_EQ(next(*tips, {0}), QStringLiteral("One"));
    EXPECT_EQ(tips->activationMessage(), (TipMessage {QString(), std::nullopt, "https://i", std::nullopt}));
    EXPECT_EQ(tips->aboutInfo().text, QString());
}

TEST_F(TipsTest, DocumentsAreDecodedStrictly)
{
    for (const char* body : {"", "[]", R"({"tips": [{"en": 5}]})", R"({"tips": [{"en": "ok"}, {"en": null}]})",
             R"({"tips": {"en": "x"}})", R"({"tips": ["x"]})", R"({"ads": {}})", R"({"onActivate": []})", R"({"about": "x"})",
             R"({"about": {"url": true}})", R"({"ads": [{"en": ["x"]}]})"})
        EXPECT_FALSE(Tips::decode(body)) << body;

    // Null counts as absent; unknown members of any type are ignored.
    const Tips::Document d = doc(R"({"tips": null, "ads": [], "onActivate": null, "about": {"fr": "x"}, "extra": 5})");
    EXPECT_FALSE(d.tips || d.onActivate);
    EXPECT_TRUE(d.ads && d.ads->isEmpty());
    EXPECT_EQ(d.about, (MessageSource {{"fr", "x"}}));
    // Accepted: tips that are not empty, or ads of any length.
    EXPECT_TRUE(Tips::accepted(d));
    EXPECT_TRUE(Tips::accepted(doc(R"({"tips": [{}]})")));
    EXPECT_FALSE(Tips::accepted(doc(R"({"tips": [], "onActivate": {"en": "x"}, "about": {"en": "y"}})")));
}

TEST_F(TipsTest, TheCachedFeedIsInForceBeforeTheNetworkAnswers)
{
    // First launch: any body is tried whatever the status; the feed is cached byte for byte.
    server_.route(QStringLiteral("/tips.json"), LoopbackServer::Response {500, kFeedA});
    fetch(*make(server_.url(QStringLiteral("/tips.json"))));
    ASSERT_EQ(readAll(cachePath()), kFeedA);

    // Next launch: the server is slow to answer with a new feed.
    server_.route(QStringLiteral("/tips.json"), LoopbackServer::Response {200, kFeedB, true, true});
    auto tips = make(server_.url(QStringLiteral("/tips.json")));
    bool done = false;
    tips->onFetchFinished = [&done] { done = true; };
    tips->refreshRemote();
    EXPECT_EQ(next(*tips, {1, 0}), QStringLiteral("Remote tip A"));
    ASSERT_TRUE(waitFor([this] { return server_.heldCount() == 1; }));
    server_.releaseHeld();
    ASSERT_TRUE(waitFor([&done] { return done; }));
    EXPECT_EQ(next(*tips, {0}), QStringLiteral("Remote tip B"));
    EXPECT_EQ(tips->aboutInfo().text, QStringLiteral("About A"));  // absent in B: kept
    EXPECT_EQ(readAll(cachePath()), kFeedB);

    // Feeds that are not accepted, not valid, or over the cap (cut off as they arrive) change nothing.
    for (const QByteArray& body : {QByteArray(R"({"tips": [], "about": {"en": "Not me"}})"),
             QByteArray(R"({"tips": [{"en": "Not me"}, {"en": 3}]})"),
             R"({"tips": [{"en": "Not me )" + QByteArray(Tips::maxFeedBytes, 'x') + R"("}]})"}) {
        server_.route(QStringLiteral("/tips.json"), body);
        auto again = make(server_.url(QStringLiteral("/tips.json")));
        fetch(*again);
        EXPECT_EQ(readAll(cachePath()), kFeedB) << body.left(60).constData();
        EXPECT_EQ(next(*again, {0}) + again->aboutInfo().text,
            QStringLiteral("Remote tip BThis is a 100% free app, made with care by Marren.")) << body.left(60).constData();
    }
    EXPECT_EQ(server_.count(QStringLiteral("/tips.json")), 5);
}

TEST_F(TipsTest, NoAddressNoServerOrNoCacheFolderIsSilent)
{
    // A cache over the cap, left by an earlier version that took any size, would stall every start.
    ASSERT_TRUE(writeAll(cachePath(), R"({"tips": [{"en": "Cached )" + QByteArray(Tips::maxFeedBytes, 'x') + R"("}]})"));
    server_.route(QStringLiteral("/tips.json"), kFeedB);
    auto tips = make(server_.url(QStringLiteral("/REPLACE/tips.json")));
    tips->refreshRemote();
    spin(200);
    EXPECT_TRUE(server_.requests().isEmpty());
    EXPECT_EQ(next(*tips, {1, 0}), kFirstTip);
    QFile::remove(cachePath());
    fetch(*make(LoopbackServer().url(QStringLiteral("/tips.json"))));
    EXPECT_FALSE(QFile::exists(cachePath()));

    // The cache's folder is taken by a file: the feed is still used, nothing is written.
    ASSERT_TRUE(writeAll(dir_.path() + QStringLiteral("/blocked"), "x"));
    auto blocked = make(server_.url(QStringLiteral("/tips.json")));
    blocked->setCachePath(dir_.path() + QStringLiteral("/blocked/tips.json"));
    fetch(*blocked);
    EXPECT_EQ(readAll(dir_.path() + QStringLiteral("/blocked")), QByteArray("x"));
    EXPECT_EQ(next(*blocked, {0}), QStringLiteral("Remote tip B"));

    Tips byDefault(QStringLiteral("http://REPLACE/tips.json"));
    EXPECT_EQ(byDefault.cacheURL(), qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Halvex/tips.json"));
    EXPECT_TRUE(QFileInfo(byDefault.cacheURL()).dir().exists());
}
