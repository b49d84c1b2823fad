#include "schedule/AppSettings.h"
#include "schedule/Geo.h"

#include "support/LoopbackServer.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>

#include <vector>

namespace {

class GeoTest : public ::testing::Test {
protected:
    GeoTest()
        : savedUrl(Geo::serviceUrl())
        , savedTimeout(Geo::timeoutMs())
    {
        EXPECT_TRUE(server.isListening());
        Geo::setService(server.url());
        // A place stored earlier, which every failure must leave as it was.
        AppSettings::setLatitude(10.5);
        AppSettings::setLongitude(20.25);
        AppSettings::setLocationName(QStringLiteral("Before"));
    }
    ~GeoTest() override { Geo::setService(savedUrl, savedTimeout); }

    struct Outcome {
        int calls = 0;
        bool ok = false;
        bool onMainThread = false;
    };

    // Runs one lookup to its end and a little beyond, to catch a second completion.
    Outcome detect(int waitMs = 5000)
    {
        auto outcome = std::make_shared<Outcome>();
        Geo::detect([outcome](bool ok) {
            ++outcome->calls;
            outcome->ok = ok;
            outcome->onMainThread = QThread::currentThread() == qApp->thread();
        });
        EXPECT_TRUE(waitFor([outcome] { return outcome->calls > 0; }, waitMs));
        spin(100);
        return *outcome;
    }

    void expectUnchanged()
    {
        EXPECT_EQ(AppSettings::latitude(), 10.5);
        EXPECT_EQ(AppSettings::longitude(), 20.25);
        EXPECT_EQ(AppSettings::locationName(), QStringLiteral("Before"));
    }

    void expectFailure(const QByteArray& body)
    {
        server.setFallback(body);
        const Outcome outcome = detect();
        EXPECT_EQ(outcome.calls, 1) << body.toStdString();
        EXPECT_FALSE(outcome.ok) << body.toStdString();
        EXPECT_TRUE(outcome.onMainThread);
        expectUnchanged();
    }

    FreshSettings settings;
    LoopbackServer server;
    QString savedUrl;
    int savedTimeout;
};

}  // namespace

TEST_F(GeoTest, DefaultsToTheBuildsServiceWithTenSeconds)
{
    EXPECT_EQ(savedTimeout, 10000);
    EXPECT_FALSE(savedUrl.isEmpty());
}

TEST_F(GeoTest, StoresTheAnsweredPlace)
{
    server.setFallback(R"({"status":"success","country":"Spain","city":"Madrid","lat":40.4,"lon":-3.7})");
    const Outcome outcome = detect();
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_TRUE(outcome.ok);
    EXPECT_TRUE(outcome.onMainThread);
    EXPECT_EQ(AppSettings::latitude(), 40.4);
    EXPECT_EQ(AppSettings::longitude(), -3.7);
    EXPECT_EQ(AppSettings::locationName(), QStringLiteral("Madrid, Spain"));
    EXPECT_TRUE(AppSettings::hasLocation());
}

TEST_F(GeoTest, AsksWithAPlainGetOfTheFixedPathAndQuery)
{
    server.setFallback(R"({"lat":1,"lon":2})");
    ASSERT_TRUE(detect().ok);
    ASSERT_EQ(server.requestHeads().size(), 1);
    const QStringList lines = server.requestHeads().first().split(QStringLiteral("\r\n"));
    EXPECT_EQ(lines.first(), QStringLiteral("GET /json/?fields=status,lat,lon,city,country HTTP/1.1"));
    for (const QString& line : lines)
        EXPECT_FALSE(line.startsWith(QStringLiteral("Content-Length:"), Qt::CaseInsensitive)) << line.toStdString();
}

TEST_F(GeoTest, ATrailingSlashOnTheServiceAddressIsHarmless)
{
    Geo::setService(server.url() + QStringLiteral("/"));
    server.setFallback(R"({"lat":1,"lon":2})");
    ASSERT_TRUE(detect().ok);
    ASSERT_EQ(server.requestHeads().size(), 1);
    EXPECT_TRUE(server.requestHeads().first().startsWith(QStringLiteral("GET /json/?fields=")));
}

TEST_F(GeoTest, IntegerCoordinatesAndNoNames)
{
    server.setFallback(R"({"status":"success","lat":40,"lon":-3})");
    const Outcome outcome = detect();
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(AppSettings::latitude(), 40.0);
    EXPECT_EQ(AppSettings::longitude(), -3.0);
    EXPECT_EQ(AppSettings::locationName(), QString());
}

TEST_F(GeoTest, EmptyOrMissingNamesAreLeftOutOfTheJoin)
{
    server.setFallback(R"({"status":"success","lat":40.4,"lon":-3.7,"city":"","country":"Spain"})");
    EXPECT_TRUE(detect().ok);
    EXPECT_EQ(AppSettings::locationName(), QStringLiteral("Spain"));

    server.setFallback(R"({"status":"success","lat":40.4,"lon":-3.7,"city":"Madrid"})");
    EXPECT_TRUE(detect().ok);
    EXPECT_EQ(AppSettings::locationName(), QStringLiteral("Madrid"));

    server.setFallback(R"({"status":"success","lat":40.4,"lon":-3.7,"city":7,"country":"Espa\u00f1a"})");
    EXPECT_TRUE(detect().ok);
    EXPECT_EQ(AppSettings::locationName(), QStringLiteral("Espa\u00f1a"));
}

TEST_F(GeoTest, TheServicesFailureAnswerChangesNothing)
{
    expectFailure(R"({"status":"fail","message":"reserved range"})");
}

TEST_F(GeoTest, CoordinatesThatAreNotNumbersChangeNothing)
{
    expectFailure(R"({"status":"success","lat":"40.4","lon":-3.7,"city":"Madrid"})");
    expectFailure(R"({"status":"success","lat":40.4,"lon":null})");
    expectFailure(R"({"status":"success","lat":true,"lon":-3.7})");
    expectFailure(R"({"status":"success","lat":40.4})");
}

TEST_F(GeoTest, CoordinatesBeyondADoubleChangeNothing)
{
    expectFailure(R"({"status":"success","lat":1e999,"lon":-3.7})");
    expectFailure(R"({"status":"success","lat":40.4,"lon":-1e400})");
}

TEST_F(GeoTest, AnArrayMalformedJsonOrAnEmptyBodyChangeNothing)
{
    expectFailure(R"([{"status":"success","lat":40.4,"lon":-3.7}])");
    expectFailure(R"({"status":"success","lat":40.4,"lon":)");
    expectFailure("");
    expectFailure("null");
    expectFailure("<html>busy</html>");
}

TEST_F(GeoTest, AServerThatNeverAnswersTimesOut)
{
    server.setFallback(LoopbackServer::Response::never());
    Geo::setService(server.url(), 300);
    QElapsedTimer clock;
    clock.start();
    const Outcome outcome = detect();
    EXPECT_GE(clock.elapsed(), 300);
    EXPECT_EQ(server.requestHeads().size(), 1);  // the request did arrive
    spin(300);
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(outcome.onMainThread);
    expectUnchanged();
}

TEST_F(GeoTest, AnAnswerOverTheCapChangesNothing)
{
    // Well formed, but no answer of the service is this long.
    expectFailure(R"({"lat":1,"lon":2,"city":")" + QByteArray(Geo::maxAnswerBytes, 'x') + R"("})");
}

TEST_F(GeoTest, AnAddressThatCannotBeFormedFailsAtOnce)
{
    Geo::setService(QString());
    int calls = 0;
    bool result = true;
    Geo::detect([&](bool ok) {
        ++calls;
        result = ok;
    });
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(result);
    spin(50);
    EXPECT_EQ(calls, 1);
    expectUnchanged();
}

TEST_F(GeoTest, TwoLookupsAtOnceEachCompleteAndTheLaterAnswerWins)
{
    LoopbackServer slow;
    slow.setFallback(LoopbackServer::Response::late(R"({"lat":40.4,"lon":-3.7,"city":"Madrid","country":"Spain"})", 300));
    server.setFallback(R"({"lat":48.85,"lon":2.35,"city":"Paris","country":"France"})");

    std::vector<QString> order;
    Geo::setService(slow.url());
    Geo::detect([&order](bool ok) { order.push_back(QStringLiteral("slow %1").arg(ok)); });
    Geo::setService(server.url());
    Geo::detect([&order](bool ok) { order.push_back(QStringLiteral("fast %1").arg(ok)); });
    ASSERT_TRUE(waitFor([&order] { return order.size() >= 2; }));
    spin(100);
    EXPECT_EQ(order, (std::vector<QString>{QStringLiteral("fast 1"), QStringLiteral("slow 1")}));
    EXPECT_EQ(AppSettings::latitude(), 40.4);
    EXPECT_EQ(AppSettings::longitude(), -3.7);
    EXPECT_EQ(AppSettings::locationName(), QStringLiteral("Madrid, Spain"));
}

TEST_F(GeoTest, StartedFromAnotherThreadItCompletesOnTheMainThread)
{
    server.setFallback(R"({"lat":40.4,"lon":-3.7,"city":"Madrid","country":"Spain"})");
    auto outcome = std::make_shared<Outcome>();
    QThread* worker = QThread::create([outcome] {
        Geo::detect([outcome](bool ok) {
            ++outcome->calls;
            outcome->ok = ok;
            outcome->onMainThread = QThread::currentThread() == qApp->thread();
        });
    });
    worker->start();
    ASSERT_TRUE(worker->wait(5000));
    delete worker;
    ASSERT_TRUE(waitFor([outcome] { return outcome->calls > 0; }));
    spin(100);
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_TRUE(outcome->ok);
    EXPECT_TRUE(outcome->onMainThread);
    EXPECT_EQ(AppSettings::locationName(), QStringLiteral("Madrid, Spain"));
}
