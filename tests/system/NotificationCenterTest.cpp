#include "platform/NotificationCenter.h"

#include <gtest/gtest.h>

// Delivered by name, at once; dead observers are forgotten; a handler may remove and add
// observers while a post runs.
TEST(NotificationCenter, DeliversByNameAndForgetsDeadObservers)
{
    NotificationCenter center;
    auto observer = std::make_unique<QObject>();
    QObject other;
    QString calls;
    center.addObserver(QStringLiteral("A"), observer.get(), [&] { calls += u'a'; });
    center.addObserver(QStringLiteral("B"), observer.get(), [&] { calls += u'b'; });
    center.addObserver(QStringLiteral("A"), &other, [&] {
        calls += u'o';
        center.removeObservers(&other);
        center.addObserver(QStringLiteral("A"), &other, [&] { calls += u'n'; });
    });
    center.post(QStringLiteral("A"));
    EXPECT_EQ(calls, QStringLiteral("ao"));
    EXPECT_EQ(center.observerCount(QStringLiteral("A")), 2);
    observer.reset();
    center.post(QStringLiteral("A"));
    EXPECT_EQ(calls, QStringLiteral("aon"));
    EXPECT_EQ(center.observerCount(QStringLiteral("A")), 1);
    EXPECT_EQ(center.observerCount(QStringLiteral("B")), 0);
}
