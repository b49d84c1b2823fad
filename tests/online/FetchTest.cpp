// The one download helper: caps, deadlines and failures against a real HTTP server.
#include "online/Fetch.h"
#include "system/EventLog.h"

#include "Printers.h"
#include "support/LoopbackServer.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QThread>

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
        outcome->onMainThread = QThread::currentThread() == qApp->thread();
        outcome->result = result;
        ++outcome->calls;
    });
    return outcome;
}

}  // namespace

TEST(Fetch, CapsDeadlinesAndFailures)
{
    const QByteArray body(1000, 'b');
    LoopbackServer server;
    server.route(QStringLiteral("/fits"), body);
    server.route(QStringLiteral("/at-cap-unannounced"), LoopbackServer::Response {200, body, false});
    server.route(QStringLiteral("/over-announced"), LoopbackServer::Response::stalling(body + 'b', 10));
    server.route(QStringLiteral("/over-unannounced"), LoopbackServer::Response {200, body + 'b', false});
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
    const Fetch::Limits cap {1000, 5000, 0, "test body"};
    const struct {
        QString url;
        Fetch::Limits limits;
        F failure;
        QByteArray body;
        int status;
        bool logged;
    } cases[] = {
        {"/fits", cap, F::none, body, 200, false},
        {"/at-cap-unannounced", cap, F::none, body, 200, false},
        // Announced too long: stopped at the head, not after the server's 10 bytes.
        {"/over-announced", cap, F::tooLarge, {}, 0, true},
        {"/over-unannounced", cap, F::tooLarge, {}, 0, true},
        {"/missing", cap, F::none, "gone", 404, false},  // the status is the caller's business
        {"/flood", {1024 * 1024, 20000, 0, "flood"}, F::tooLarge, {}, 0, true},
        {"/stalls", {1 << 20, 0, 300, "stall"}, F::idle, {}, 0, true},
        {"/silent", {1 << 20, 300, 0, "silent"}, F::deadline, {}, 0, true},
        {refused, cap, F::network, {}, 0, false},
        {"file:///etc/hostname", cap, F::badAddress, {}, 0, false},
        {"http://", cap, F::badAddress, {}, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        const QString logBefore = EventLog::shared().dump();
        const qint64 sentBefore = server.sentBytes();
        auto outcome = start(c.url.startsWith(u'/') ? server.url(c.url) : c.url, c.limits);
        EXPECT_EQ(outcome->calls, 0);  // never from inside get()
        ASSERT_TRUE(waitFor([outcome] { return outcome->calls > 0; }, 10000));
        spin(50);
        EXPECT_EQ(outcome->calls, 1);
        EXPECT_TRUE(outcome->onMainThread);
        EXPECT_EQ(outcome->result.failure, c.failure);
        EXPECT_EQ(outcome->result.status, c.status);
        EXPECT_EQ(outcome->result.body, c.body);
        EXPECT_EQ(EventLog::shared().dump() != logBefore, c.logged);
        if (c.url == QLatin1String("/flood")) {
            // Cut off soon after the cap (the loopback's buffers hold a few MiB more), and hung up.
            EXPECT_LT(server.sentBytes() - sentBefore, 8 * c.limits.maxBytes);
            EXPECT_TRUE(waitFor([&server] { return server.hangUps() == 1; }));
        }
    }
    EXPECT_EQ(server.requests().size(), 8);  // nothing asked for the bad addresses
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
