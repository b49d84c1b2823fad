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
    // Scripted draws (the bound of each is recorded), a private cache file; fetched once if told.
    std::unique_ptr<Tips> make(const QString& path = "/REPLACE/tips.json", bool fetch = false)
    {
        auto tips = std::make_unique<Tips>(server_.url(path));
        tips->setCachePath(cachePath());
        tips->setRandomSource([this](int bound) {
            bounds_.append(bound);
            return values_.isEmpty() ? 0 : values_.takeFirst();
        });
        bool done = !fetch;
        tips->onFetchFinished = [&done] { done = true; };
        if (fetch)
            tips->refreshRemote();
        EXPECT_TRUE(waitFor([&done] { return done; }));
        tips->onFetchFinished = nullptr;
        return tips;
    }
    QString cachePath() const { return dir_.path() + QStringLiteral("/Halvex/tips.json"); }
    QString next(Tips& tips, QList<int> draws)
    {
        values_ = std::move(draws);
        bounds_.clear();
        return tips.next().text;
    }
    static Tips::Document doc(const char* json) { return Tips::decode(json).value(); }
    FreshSettings settings_;
    QTemporaryDir dir_;
    LoopbackServer server_;
    QList<int> values_, bounds_;
};

}  // namespace

TEST_F(TipsTest, BuiltInAndRemoteMessagesStrictlyDecoded)
{
    auto tips = make();
    EXPECT_EQ(next(*tips, {1, 9}), kFirstTip);  // a draw out of range counts as 0
    EXPECT_EQ(bounds_, (QList<int> {5, 9}));
    EXPECT_EQ(next(*tips, {0, 0}), QStringLiteral("Enjoying Ambrano? It's free forever — share it with anyone whose eyes get tired 💛"));
    EXPECT_EQ(bounds_, (QList<int> {5, 1}));
    Localization::shared().set(Lang::ca);
    const QString ca = next(*tips, {2, 5});
    EXPECT_TRUE(ca.startsWith(QStringLiteral("Truc: prem ⌃⌥⌘Z")));
    // The same text again is drawn once more; the second draw may land on it again.
    EXPECT_NE(next(*tips, {1, 5, 4}), ca);
    EXPECT_EQ(bounds_, (QList<int> {5, 9, 9}));
    const QString fifth = tips->last();
    EXPECT_EQ(next(*tips, {1, 4, 4, 7}), fifth);
    EXPECT_EQ(bounds_, (QList<int> {5, 9, 9}));
    // Without "ads" no one-in-five draw; no Catalan text falls back to English, then to none.
    tips->apply(doc(R"({"tips": [{"en": "Only", "color": "#123", "url": "https://a"}, {"es": "Solo"}], "ads": []})"));
    EXPECT_EQ(tips->next(), (TipMessage {"Only", "#123", std::nullopt, "https://a"}));
    EXPECT_EQ(next(*tips, {1}), QString());
    EXPECT_EQ(bounds_, QList<int> {2});
    tips->apply(doc(R"({"tips": [{"en": "One"}], "onActivate": {"es": "Hola", "url": "https://x"}, "about": {"en": "Credits"}})"));
    EXPECT_EQ(next(*tips, {0, 0}) + next(*tips, {0, 0}), QStringLiteral("OneOne"));  // a pool of one repeats
    EXPECT_EQ(bounds_, QList<int> {1});
    EXPECT_FALSE(tips->activationMessage());  // no text in Catalan or English and no picture
    EXPECT_TRUE(tips->aboutInfo().text == QStringLiteral("Credits") && !tips->aboutInfo().url);
    // An empty list or a missing member never clears what came before; a picture alone is a message.
    tips->apply(doc(R"({"tips": [], "onActivate": {"image": "https://i"}, "about": {}})"));
    EXPECT_EQ(next(*tips, {0}) + tips->aboutInfo().text, QStringLiteral("One"));
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
}

TEST_F(TipsTest, TheCachedFeedIsInForceBeforeTheNetworkAnswers)
{
    // Any body is tried whatever the status; the feed is cached byte for byte.
    server_.route(QStringLiteral("/tips.json"), LoopbackServer::Response {500, kFeedA});
    make("/tips.json", true);
    ASSERT_EQ(readAll(cachePath()), kFeedA);
    server_.route(QStringLiteral("/tips.json"), LoopbackServer::Response {200, kFeedB, true, true});
    auto tips = make("/tips.json");
    tips->refreshRemote();
    EXPECT_EQ(next(*tips, {1, 0}), QStringLiteral("Remote tip A"));
    ASSERT_TRUE(waitFor([this] { return server_.heldCount() == 1; }));
    server_.releaseHeld();
    ASSERT_TRUE(waitFor([this] { return readAll(cachePath()) == kFeedB; }));
    EXPECT_EQ(next(*tips, {0}) + tips->aboutInfo().text, QStringLiteral("Remote tip BAbout A"));  // about is absent in B: kept
    // Feeds that are not accepted, not valid, or over the cap (cut off as they arrive) change nothing.
    for (const QByteArray& body : {QByteArray(R"({"tips": [], "about": {"en": "Not me"}})"),
             QByteArray(R"({"tips": [{"en": "Not me"}, {"en": 3}]})"),
             R"({"tips": [{"en": "Not me )" + QByteArray(Tips::maxFeedBytes, 'x') + R"("}]})"}) {
        server_.route(QStringLiteral("/tips.json"), body);
        auto again = make("/tips.json", true);
        EXPECT_EQ(readAll(cachePath()), kFeedB);
        EXPECT_EQ(next(*again, {0}) + again->aboutInfo().text, QStringLiteral("Remote tip BThis is a 100% free app, made with care by Marren."));
    }
    // A cache over the cap, left by an earlier version that took any size, would stall every start.
    ASSERT_TRUE(writeAll(cachePath(), R"({"tips": [{"en": "Cached )" + QByteArray(Tips::maxFeedBytes, 'x') + R"("}]})"));
    auto unset = make();
    unset->refreshRemote();
    spin(200);
    EXPECT_EQ(server_.count(QStringLiteral("/tips.json")), 5);  // no address yet: nothing asked
    EXPECT_EQ(next(*unset, {1, 0}), kFirstTip);
}
