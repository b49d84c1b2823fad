#include "schedule/AppSettings.h"
#include "schedule/Geo.h"

#include "support/LoopbackServer.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>

#include <memory>

namespace {

const QByteArray madrid = R"({"status":"success","country":"Spain","city":"Madrid","lat":40.4,"lon":-3.7})";

class GeoTest : public ::testing::Test {
protected:
    GeoTest()
    {
        Geo::setService(server.url());
        // A place stored earlier, which every failure must leave as it was.
        AppSettings::setLatitude(10.5);
        AppSettings::setLongitude(20.25);
        AppSettings::setLocationName(QStringLiteral("Before"));
    }
    ~GeoTest() override { Geo::setService(savedUrl, savedTimeout); }

    // Starts a lookup; each completion is recorded as whether it stored a place and ran on the main thread.
    void detect() { Geo::detect([this](bool ok) { results.push_back(ok && QThread::currentThread() == qApp->thread()); }); }
    // Runs one lookup to its end and a little beyond, to catch a second completion.
    void detectAndWait()
    {
        results.clear();
        detect();
        EXPECT_TRUE(waitFor([this] { return !results.empty(); }));
        spin(100);
    }
    void expectStored(double lat, double lon, const char* name)
    {
        EXPECT_TRUE(AppSettings::latitude() == lat && AppSettings::longitude() == lon);
        EXPECT_EQ(AppSettings::locationName(), QString::fromUtf8(name));
    }

    const QString savedUrl = Geo::serviceUrl();
    const int savedTimeout = Geo::timeoutMs();
    FreshSettings settings;
    LoopbackServer server;
    std::vector<bool> results;
};

}  // namespace

TEST(GeoDecode, TakesFiniteNumericCoordinatesAndTheNonEmptyNames)
{
    const struct { QByteArray body; bool ok; double lat = 0, lon = 0; const char* name = ""; } cases[] = {
        {madrid, true, 40.4, -3.7, "Madrid, Spain"},
        {R"({"lat":40,"lon":-3})", true, 40, -3},
        {R"({"lat":1,"lon":2,"city":"","country":"Spain"})", true, 1, 2, "Spain"},
        {R"({"lat":1,"lon":2,"city":"Madrid"})", true, 1, 2, "Madrid"},
        {R"({"lat":1,"lon":2,"city":7,"country":"Espa\u00f1a"})", true, 1, 2, "Espa\xC3\xB1" "a"},
        {R"({"status":"fail","message":"reserved range"})", false},
        {R"({"lat":"40.4","lon":-3.7})", false},
        {R"({"lat":40.4})", false},
        {R"({"lat":1e999,"lon":-3.7})", false},
        {R"({"lat":40.4,"lon":-1e400})", false},
        {R"([{"lat":40.4,"lon":-3.7}])", false},
        {R"({"lat":40.4,"lon":)", false},
        {"", false},
    };
    for (const auto& c : cases) {
        const auto location = Geo::decode(c.body);
        ASSERT_EQ(location.has_value(), c.ok) << c.body.toStdString();
        EXPECT_TRUE(!location || (location->latitude == c.lat && location->longitude == c.lon && location->name == QString::fromUtf8(c.name)));
    }
}

TEST_F(GeoTest, StoresTheAnsweredPlaceAfterAPlainGetOfTheFixedPath)
{
    Geo::setService(server.url() + QStringLiteral("/"));  // a trailing slash is harmless
    server.setFallback(madrid);
    detectAndWait();
    EXPECT_EQ(results, std::vector<bool>{true});
    expectStored(40.4, -3.7, "Madrid, Spain");
    ASSERT_EQ(server.requestHeads().size(), 1);
    const QStringList lines = server.requestHeads().first().split(QStringLiteral("\r\n"));
    EXPECT_EQ(lines.first(), QStringLiteral("GET /json/?fields=status,lat,lon,city,country HTTP/1.1"));
    for (const QString& line : lines)
        EXPECT_FALSE(line.startsWith(QStringLiteral("Content-Length:"), Qt::CaseInsensitive)) << line.toStdString();
}

TEST_F(GeoTest, AFailedLookupKeepsTheStoredPlaceAndCompletesOnce)
{
    const LoopbackServer::Response cases[] = {
        {200, R"({"status":"fail","message":"reserved range"})"},
        {200, R"({"lat":1,"lon":2,"city":")" + QByteArray(Geo::maxAnswerBytes, 'x') + R"("})"},  // over the cap
        LoopbackServer::Response::never(),
    };
    for (const auto& response : cases) {
        SCOPED_TRACE(response.body.left(30).toStdString());
        server.setFallback(response);
        Geo::setService(server.url(), 300);
        QElapsedTimer clock;
        clock.start();
        detectAndWait();
        EXPECT_EQ(results, std::vector<bool>{false});
        EXPECT_GE(clock.elapsed(), response.silent ? 300 : 0);  // the time allowed, not less
        expectStored(10.5, 20.25, "Before");
    }
    EXPECT_EQ(server.requestHeads().size(), 3);
    Geo::setService(QString());  // an address that cannot be formed fails at once
    results.clear();
    detect();
    EXPECT_EQ(results, std::vector<bool>{false});
    spin(50);
    EXPECT_EQ(results.size(), 1u);
}

TEST_F(GeoTest, LookupsAtOnceOrFromAnotherThreadEachCompleteOnTheMainThread)
{
    LoopbackServer slow;
    slow.setFallback(LoopbackServer::Response::late(madrid, 300));
    server.setFallback(R"({"lat":48.85,"lon":2.35,"city":"Paris","country":"France"})");
    Geo::setService(slow.url());
    detect();
    Geo::setService(server.url());
    std::unique_ptr<QThread> worker(QThread::create([this] { detect(); }));
    worker->start();
    ASSERT_TRUE(worker->wait(5000));
    ASSERT_TRUE(waitFor([this] { return results.size() >= 2; }));
    spin(100);
    EXPECT_EQ(results, (std::vector<bool>{true, true}));
    expectStored(40.4, -3.7, "Madrid, Spain");  // the later answer wins
}
