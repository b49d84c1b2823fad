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
    EXPECT_EQ(calls + QString::number(center.observerCount(QStringLiteral("A"))), QStringLiteral("ao2"));
    observer.reset();
    center.post(QStringLiteral("A"));
    EXPECT_EQ(calls, QStringLiteral("aon"));
    EXPECT_EQ(std::pair(center.observerCount(QStringLiteral("A")), center.observerCount(QStringLiteral("B"))), std::pair(1, 0));
}
