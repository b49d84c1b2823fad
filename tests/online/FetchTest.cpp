// The one download helper: caps, deadlines and failures against a real HTTP server.

#include "online/Fetch.h"
#include "system/EventLog.h"

#include "Printers.h"
#include "support/LoopbackServer.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

#include <memory>
#include <optional>

namespace {

struct Outcome {
    int calls = 0;
    bool onMainThread = false;
    Fetch::Result result;
};

std::shared_ptr<Outcome> start(const QString& url, const Fetch::Limits& limits, QObject* context = nullptr)
{
    auto outcome = std::make_shared<Outcome>();
    Fetch::get(QUrl(url), limits, context, [outcome](const Fetch::Result& result) {
        ++outcome->calls;
        outcome->onMainThread = QThread::currentThread() == qApp->thread();
        outcome->result = result;
    });
    return outcome;
}

int logLines()
{
    const QString log = EventLog::shared().dump();
    return log.isEmpty() ? 0 : static_cast<int>(log.count(QLatin1Char('\n'))) + 1;
}

}  // namespace

TEST(Fetch, CapsDeadlinesAndFailures)
{
    const QByteArray body(1000, 'b');
    LoopbackServer server;
    server.route(QStringLiteral("/fits"), body);
    server.route(QStringLiteral("/at-cap-unannounced"), LoopbackServer::Response {200, body, false});
    server.route(QStringLiteral("/over-announced"), LoopbackServer::Response::stalling(QByteArray(1001, 'b'), 10));
    server.route(QStringLiteral("/over-unannounced"), LoopbackServer::Response {200, QByteArray(1001, 'b'), false});
    server.route(QStringLiteral("/missing"), LoopbackServer::Response {404, "gone"});
    server.route(QStringLiteral("/flood"), LoopbackServer::Response::flood(QByteArray(64 * 1024, 'f')));
    server.route(QStringLiteral("/stalls"), LoopbackServer::Response::stalling(body, 10));
    server.route(QStringLiteral("/silent"), LoopbackServer::Response::never());
    QString refused;
    {
        LoopbackServer gone;
        refused = gone.url(QStringLiteral("/x"));
    }

    using F = Fetch::Failure;
    struct Case {
        const char* path;  // on the server, or a whole address
        Fetch::Limits limits;
        F failure;
        std::optional<QByteArray> body;  // checked when given
        int status;
        bool logged;
    };
    const Fetch::Limits cap1000 {1000, 5000, 0, "test body"};
    const Case cases[] = {
        {"/fits", cap1000, F::none, body, 200, false},
        {"/at-cap-unannounced", cap1000, F::none, body, 200, false},
        // Announced too long: stopped at the head, not after the server's 10 bytes.
        {"/over-announced", cap1000, F::tooLarge, QByteArray(), 0, true},
        {"/over-unannounced", cap1000, F::tooLarge, QByteArray(), 0, true},
        // The status is the caller's business.
        {"/missing", cap1000, F::none, QByteArray("gone"), 404, false},
        {"/flood", {1024 * 1024, 20000, 0, "flood"}, F::tooLarge, QByteArray(), 0, true},
        {"/stalls", {1 << 20, 0, 300, "stall"}, F::idle, QByteArray(), 0, true},
        {"/stalls", {1 << 20, 300, 0, "stall"}, F::deadline, QByteArray(), 0, true},
        {"/silent", {1 << 20, 300, 0, "silent"}, F::deadline, QByteArray(), 0, true},
        {"/silent", {1 << 20, 0, 300, "silent"}, F::idle, QByteArray(), 0, true},
        {"refused", cap1000, F::network, QByteArray(), 0, false},
        {"file:///etc/hostname", cap1000, F::badAddress, QByteArray(), 0, false},
        {"http://", cap1000, F::badAddress, QByteArray(), 0, false},
    };
    for (const Case& c : cases) {
        const QString path = QString::fromLatin1(c.path);
        const QString url = path == QLatin1String("refused") ? refused : path.startsWith(u'/') ? server.url(path) : path;
        const int linesBefore = logLines();
        const qint64 sentBefore = server.sentBytes();
        auto outcome = start(url, c.limits);
        EXPECT_EQ(outcome->calls, 0) << c.path;  // never from inside get()
        ASSERT_TRUE(waitFor([outcome] { return outcome->calls > 0; }, 10000)) << c.path;
        spin(50);
        EXPECT_EQ(outcome->calls, 1) << c.path;
        EXPECT_TRUE(outcome->onMainThread) << c.path;
        EXPECT_EQ(outcome->result.failure, c.failure) << c.path;
        EXPECT_EQ(outcome->result.status, c.status) << c.path;
        if (c.body) {
            EXPECT_EQ(outcome->result.body, *c.body) << c.path;
        }
        EXPECT_EQ(logLines() - linesBefore, c.logged ? 1 : 0) << c.path;
        if (path == QLatin1String("/flood")) {
            // Cut off soon after the cap (the loopback's socket buffers hold a few MiB more),
            // and the connection is closed.
            EXPECT_LT(server.sentBytes() - sentBefore, 8 * c.limits.maxBytes);
            EXPECT_TRUE(waitFor([&server] { return server.hangUps() == 1; }));
        }
    }
    EXPECT_EQ(server.count(QStringLiteral("/fits")), 1);
    EXPECT_EQ(server.requests().size(), 10);  // nothing asked for the bad addresses
}

TEST(Fetch, ContextGoneFirstDropsTheCompletion)
{
    LoopbackServer server;
    server.setFallback(LoopbackServer::Response::late("late", 200));
    auto context = std::make_unique<QObject>();
    auto outcome = start(server.url(QStringLiteral("/x")), {1000, 5000, 0, "x"}, context.get());
    ASSERT_TRUE(waitFor([&server] { return server.requests().size() == 1; }));
    context.reset();
    spin(400);
    EXPECT_EQ(outcome->calls, 0);
}
