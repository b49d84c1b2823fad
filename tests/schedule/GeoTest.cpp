#include "schedule/AppSettings.h"
#include "schedule/Geo.h"

#include "support/LoopbackServer.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>

#include <memory>
#include <vector>

namespace {

const QByteArray madrid = R"({"status":"success","country":"Spain","city":"Madrid","lat":40.4,"lon":-3.7})";

struct Outcome {
    int calls = 0;
    bool ok = false;
    bool onMainThread = false;
};

std::function<void(bool)> recordInto(const std::shared_ptr<Outcome>& outcome)
{
    return [outcome](bool ok) {
        ++outcome->calls;
        outcome->ok = ok;
        outcome->onMainThread = QThread::currentThread() == qApp->thread();
    };
}

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

    // Runs one lookup to its end and a little beyond, to catch a second completion.
    Outcome detect()
    {
        auto outcome = std::make_shared<Outcome>();
        Geo::detect(recordInto(outcome));
        EXPECT_TRUE(waitFor([outcome] { return outcome->calls > 0; }));
        spin(100);
        return *outcome;
    }
    void expectStored(double lat, double lon, const QString& name)
    {
        EXPECT_EQ(AppSettings::latitude(), lat);
        EXPECT_EQ(AppSettings::longitude(), lon);
        EXPECT_EQ(AppSettings::locationName(), name);
    }

    const QString savedUrl = Geo::serviceUrl();
    const int savedTimeout = Geo::timeoutMs();
    FreshSettings settings;
    LoopbackServer server;
};

}  // namespace

TEST(GeoDecode, TakesFiniteNumericCoordinatesAndTheNonEmptyNames)
{
    struct Case { QByteArray body; bool ok; double lat = 0, lon = 0; const char* name = ""; };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        const auto location = Geo::decode(c.body);
        ASSERT_EQ(location.has_value(), c.ok) << c.body.toStdString();
        if (location) {
            EXPECT_EQ(location->latitude, c.lat);
            EXPECT_EQ(location->longitude, c.lon);
            EXPECT_EQ(location->name, QString::fromUtf8(c.name));
        }
    }
}

TEST_F(GeoTest, StoresTheAnsweredPlaceAfterAPlainGetOfTheFixedPath)
{
    Geo::setService(server.url() + QStringLiteral("/"));  // a trailing slash is harmless
    server.setFallback(madrid);
    const Outcome outcome = detect();
    EXPECT_TRUE(outcome.calls == 1 && outcome.ok && outcome.onMainThread);
    expectStored(40.4, -3.7, QStringLiteral("Madrid, Spain"));
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
        const Outcome outcome = detect();
        EXPECT_TRUE(outcome.calls == 1 && !outcome.ok && outcome.onMainThread);
        EXPECT_GE(clock.elapsed(), response.silent ? 300 : 0);  // the time allowed, not less
        expectStored(10.5, 20.25, QStringLiteral("Before"));
    }
    EXPECT_EQ(server.requestHeads().size(), 3);
}

TEST_F(GeoTest, AnAddressThatCannotBeFormedFailsAtOnce)
{
    Geo::setService(QString());
    auto outcome = std::make_shared<Outcome>();
    Geo::detect(recordInto(outcome));
    EXPECT_TRUE(outcome->calls == 1 && !outcome->ok);
    spin(50);
    EXPECT_EQ(outcome->calls, 1);
    expectStored(10.5, 20.25, QStringLiteral("Before"));
}

TEST_F(GeoTest, TwoLookupsAtOnceEachCompleteAndTheLaterAnswerWins)
{
    LoopbackServer slow;
    slow.setFallback(LoopbackServer::Response::late(madrid, 300));
    server.setFallback(R"({"lat":48.85,"lon":2.35,"city":"Paris","country":"France"})");
    std::vector<QString> order;
    Geo::setService(slow.url());
    Geo::detect([&order](bool ok) { order.push_back(QStringLiteral("slow %1").arg(ok)); });
    Geo::setService(server.url());
    Geo::detect([&order](bool ok) { order.push_back(QStringLiteral("fast %1").arg(ok)); });
    ASSERT_TRUE(waitFor([&order] { return order.size() >= 2; }));
    spin(100);
    EXPECT_EQ(order, (std::vector<QString>{QStringLiteral("fast 1"), QStringLiteral("slow 1")}));
    expectStored(40.4, -3.7, QStringLiteral("Madrid, Spain"));
}

TEST_F(GeoTest, StartedFromAnotherThreadItCompletesOnTheMainThread)
{
    server.setFallback(madrid);
    auto outcome = std::make_shared<Outcome>();
    std::unique_ptr<QThread> worker(QThread::create([outcome] { Geo::detect(recordInto(outcome)); }));
    worker->start();
    ASSERT_TRUE(worker->wait(5000));
    ASSERT_TRUE(waitFor([outcome] { return outcome->calls > 0; }));
    spin(100);
    EXPECT_TRUE(outcome->calls == 1 && outcome->ok && outcome->onMainThread);
    expectStored(40.4, -3.7, QStringLiteral("Madrid, Spain"));
}
