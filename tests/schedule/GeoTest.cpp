#include "schedule/AppSettings.h"
#include "schedule/Geo.h"
#include "support/LoopbackServer.h"
#include "support/TestEnvironment.h"
#include <gtest/gtest.h>
#include <QElapsedTimer>

namespace {
const QByteArray madrid = R"({"status":"success","country":"Spain","city":"Madrid","lat":40.4,"lon":-3.7})";
bool stored(double lat, double lon, const char* name)
{
    return AppSettings::latitude() == lat && AppSettings::longitude() == lon && AppSettings::locationName() == QString::fromUtf8(name);
}
}  // namespace

TEST(GeoDecode, TakesFiniteNumericCoordinatesAndTheNonEmptyNames)
{
    const struct { QByteArray body; bool ok; double lat = 0, lon = 0; const char* name = ""; } cases[] = {
        {madrid, true, 40.4, -3.7, "Madrid, Spain"}, {R"({"lat":40,"lon":-3})", true, 40, -3},
        {R"({"lat":1,"lon":2,"city":"","country":"Spain"})", true, 1, 2, "Spain"}, {R"({"lat":1,"lon":2,"city":"Madrid"})", true, 1, 2, "Madrid"},
        {R"({"lat":1,"lon":2,"city":7,"country":"Espa\u00f1a"})", true, 1, 2, "Espa\xC3\xB1" "a"},
        {R"({"status":"fail","message":"reserved range"})", false}, {R"({"lat":"40.4","lon":-3.7})", false}, {R"({"lat":40.4})", false},
        {R"({"lat":1e999,"lon":-3.7})", false}, {R"({"lat":40.4,"lon":-1e400})", false}, {R"([{"lat":40.4,"lon":-3.7}])", false},
        {R"({"lat":40.4,"lon":)", false}, {"", false},
    };
    for (const auto& c : cases) {
        const auto location = Geo::decode(c.body);
        ASSERT_EQ(location.has_value(), c.ok) << c.body.toStdString();
        EXPECT_TRUE(!location || (location->latitude == c.lat && location->longitude == c.lon && location->name == QString::fromUtf8(c.name)));
    }
}

TEST(Geo, FailuresKeepTheStoredPlaceAGetStoresTheAnswerOnTheMainThreadAndTheLaterAnswerWins)
{
    struct Restore { QString url = Geo::serviceUrl(); int ms = Geo::timeoutMs(); ~Restore() { Geo::setService(url, ms); } } restore;
    FreshSettings settings;
    LoopbackServer server, slow;
    std::vector<bool> results;  // whether each completion stored a place, and on the main thread
    const auto detect = [&] { Geo::detect([&](bool ok) { results.push_back(ok && QThread::currentThread() == qApp->thread()); }); };
    const auto detectAndWait = [&](const QString& url, int ms) {
        Geo::setService(url, ms);
        results.clear();
        detect();
        EXPECT_TRUE(waitFor([&] { return !results.empty(); }));
        spin(100);  // to catch a second completion
    };
    AppSettings::setLatitude(10.5), AppSettings::setLongitude(20.25), AppSettings::setLocationName(QStringLiteral("Before"));
    const struct { QString url; LoopbackServer::Response answer; } failures[] = {
        {server.url(), {200, R"({"status":"fail","message":"reserved range"})"}},
        {server.url(), {200, R"({"lat":1,"lon":2,"city":")" + QByteArray(Geo::maxAnswerBytes, 'x') + R"("})"}},  // over the cap
        {server.url(), LoopbackServer::Response::never()},
        {QString(), {200, madrid}},  // an address that cannot be formed
    };
    for (const auto& [url, answer] : failures) {
        SCOPED_TRACE(answer.body.left(30).toStdString());
        server.setFallback(answer);
        QElapsedTimer clock;
        clock.start();
        detectAndWait(url, 300);
        EXPECT_EQ(results, std::vector<bool>{false});
        EXPECT_GE(clock.elapsed(), answer.silent ? 300 : 0);  // the time allowed, not less
        EXPECT_TRUE(stored(10.5, 20.25, "Before"));
    }
    server.setFallback(madrid);
    detectAndWait(server.url() + QStringLiteral("/"), restore.ms);  // a trailing slash is harmless
    EXPECT_TRUE(results == std::vector<bool>{true} && stored(40.4, -3.7, "Madrid, Spain"));
    ASSERT_EQ(server.requestHeads().size(), 4);  // each asked once
    EXPECT_EQ(server.requestHeads().last().section(u'\r', 0, 0), QStringLiteral("GET /json/?fields=status,lat,lon,city,country HTTP/1.1"));
    // One lookup at once, another from a worker thread while the first is still waiting.
    slow.setFallback(LoopbackServer::Response::late(R"({"lat":48.85,"lon":2.35,"city":"Paris","country":"France"})", 300));
    Geo::setService(slow.url(), restore.ms);
    results.clear();
    detect();
    Geo::setService(server.url(), restore.ms);
    std::unique_ptr<QThread> worker(QThread::create(detect));
    worker->start();
    ASSERT_TRUE(worker->wait(5000));
    ASSERT_TRUE(waitFor([&] { return results.size() >= 2; }));
    spin(100);
    EXPECT_TRUE(results == (std::vector<bool>{true, true}) && stored(48.85, 2.35, "Paris, France"));
}
