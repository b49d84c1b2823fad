#include "platform/NotificationCenter.h"

#include <gtest/gtest.h>

#include <QObject>

#include <memory>

TEST(NotificationCenter, DeliversByNameSynchronouslyAndForgetsDeadObservers)
{
    NotificationCenter center;
    auto observer = std::make_unique<QObject>();
    int a = 0;
    int b = 0;
    center.addObserver(QStringLiteral("A"), observer.get(), [&] { ++a; });
    center.addObserver(QStringLiteral("B"), observer.get(), [&] { ++b; });
    center.post(QStringLiteral("A"));
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 0);
    observer.reset();
    center.post(QStringLiteral("A"));
    EXPECT_EQ(a, 1);
    EXPECT_EQ(center.observerCount(QStringLiteral("A")), 0);
}

TEST(NotificationCenter, AHandlerMayRemoveAndAddObserversWhilePosting)
{
    NotificationCenter center;
    QObject first;
    QObject second;
    int calls = 0;
    center.addObserver(QStringLiteral("X"), &first, [&] {
        ++calls;
        center.removeObservers(&first);
        center.addObserver(QStringLiteral("X"), &first, [&] { ++calls; });
    });
    center.addObserver(QStringLiteral("X"), &second, [&] { ++calls; });
    center.post(QStringLiteral("X"));
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(center.observerCount(QStringLiteral("X")), 2);
}
