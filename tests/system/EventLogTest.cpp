#include "system/EventLog.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <thread>

// The newest 200 entries, oldest first, each "[HH:mm:ss] message"; an entry may span lines;
// writers on several threads lose nothing.
TEST(EventLog, KeepsTheNewest200Entries)
{
    EventLog log;
    EXPECT_EQ(log.dump(), QString());
    log.add(QStringLiteral("a\nb"));
    log.add(QString());
    const QRegularExpression format(QStringLiteral("^\\[([01]\\d|2[0-3]):[0-5]\\d:[0-5]\\d\\] a\nb\n\\[\\d\\d:\\d\\d:\\d\\d\\] $"));
    EXPECT_TRUE(format.match(log.dump()).hasMatch()) << log.dump().toStdString();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&log] {
            for (int i = 0; i < 49; ++i)
                log.add(QStringLiteral("x"));
        });
    for (auto& thread : threads)
        thread.join();
    log.add(QStringLiteral("199"));
    log.add(QStringLiteral("200"));
    EXPECT_TRUE(log.dump().contains(QStringLiteral("] a\nb\n")));
    log.add(QStringLiteral("201"));
    const QStringList lines = log.dump().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 200);
    EXPECT_TRUE(lines.front().endsWith(QStringLiteral("] ")) && lines.back().endsWith(QStringLiteral("] 201")));
}
