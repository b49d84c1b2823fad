#include "system/EventLog.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <thread>
#include <vector>

TEST(EventLog, KeepsTheNewest200LinesOldestFirst)
{
    EventLog log;
    EXPECT_EQ(log.dump(), QString());
    for (int i = 1; i <= 201; ++i)
        log.add(QStringLiteral("line %1").arg(i));
    const QStringList lines = log.dump().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 200);
    EXPECT_TRUE(lines.front().endsWith(QStringLiteral("] line 2")));
    EXPECT_TRUE(lines.back().endsWith(QStringLiteral("] line 201")));
}

TEST(EventLog, LineFormat)
{
    EventLog log;
    log.add(QStringLiteral("pwm disable"));
    const QString dump = log.dump();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\[([01]\\d|2[0-3]):[0-5]\\d:[0-5]\\d\\] pwm disable$"))
                    .match(dump)
                    .hasMatch())
        << dump.toStdString();
    EventLog empty;
    empty.add(QString());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d\\] $")).match(empty.dump()).hasMatch());
}

TEST(EventLog, AMessageWithALineFeedIsOneEntry)
{
    EventLog log;
    log.add(QStringLiteral("a\nb"));
    for (int i = 0; i < 199; ++i)
        log.add(QStringLiteral("x"));
    EXPECT_TRUE(log.dump().contains(QStringLiteral("] a\nb")));
    log.add(QStringLiteral("y"));
    EXPECT_FALSE(log.dump().contains(QStringLiteral("] a\nb")));
}

TEST(EventLog, ConcurrentWritersLoseNothing)
{
    EventLog log;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&log, t] {
            for (int i = 0; i < 50; ++i)
                log.add(QStringLiteral("t%1 %2").arg(t).arg(i));
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(log.dump().split(QLatin1Char('\n')).size(), 200);
}
