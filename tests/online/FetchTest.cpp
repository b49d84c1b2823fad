#include "online/Fetch.h"
#include "system/EventLog.h"

#include "Helpers.h"
#include "support/LoopbackServer.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QThread>

TEST(Fetch, CapsDeadlinesAndFailures)
{
    struct Outcome { int calls = 0; bool onMainThread = false; Fetch::Result result; };
    const auto start = [](const QString& url, const Fetch::Limits& limits, QObject* context = nullptr) {
        auto outcome = std::make_shared<Outcome>();
        Fetch::get(QUrl(url), limits, context, [outcome](const Fetch::Result& result) {
            outcome->onMainThread = QThread::currentThread() == qApp->thread();
            outcome->result = result;
            ++outcome->calls;
        });
        return outcome;
    };
    using F = Fetch::Failure;
    using R = LoopbackServer::Response;
    const QByteArray body(1000, 'b');
    const Fetch::Limits cap {1000, 5000, 0, "test body"};
    LoopbackServer server;
    R overUnannounced {200, body + body, false};
    overUnannounced.stallAfter = 1001;  // over the cap, then silence: stopped as it arrives, not at the end
    // A path on the server, or a whole address.
    const struct { QString url; R answer; Fetch::Limits limits; F failure; QByteArray body; int status; } cases[] = {
        {"/fits", {200, body}, cap, F::none, body, 200}, {"/at-cap-unannounced", {200, body, false}, cap, F::none, body, 200},
        {"/over-announced", R::stalling(body + 'b', 10), cap, F::tooLarge, {}, 0},  // stopped at the head
        {"/over-unannounced", overUnannounced, cap, F::tooLarge, {}, 0},
        {"/missing", {404, "gone"}, cap, F::none, "gone", 404},  // the status is the caller's business
        {"/stalls", R::stalling(body, 10), {1 << 20, 0, 300, "stall"}, F::idle, {}, 0},
        {"/silent", R::never(), {1 << 20, 300, 0, "silent"}, F::deadline, {}, 0},
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
        EXPECT_EQ(std::pair(outcome->calls, outcome->onMainThread), std::pair(1, true));
        const Fetch::Result& r = outcome->result;
        EXPECT_EQ(std::tuple(r.failure, r.status, r.body), std::tuple(c.failure, c.status, c.body));
        EXPECT_EQ(EventLog::shared().dump() != logBefore, c.failure != F::none && c.failure != F::network && c.failure != F::badAddress);
    }
    EXPECT_EQ(server.requests().size(), 7);  // nothing asked for the bad addresses
    // The context gone first: the completion is dropped.
    server.setFallback(LoopbackServer::Response::late("late", 200));
    auto context = std::make_unique<QObject>();
    auto outcome = start(server.url(QStringLiteral("/x")), cap, context.get());
    ASSERT_TRUE(waitFor([&server] { return server.requests().size() == 8; }));
    context.reset();
    spin(400);
    EXPECT_EQ(outcome->calls, 0);
}
