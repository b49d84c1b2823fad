#include "system/Autostart.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QProcess>

// GLib's launcher, as a desktop session would, runs a program whose path holds every
// character the Exec key quotes or escapes. A line break cannot be put in the key.
TEST(Autostart, TheEntryStartsTheProgramWhateverItsPath)
{
    QTemporaryDir dir;
    const QString program = dir.path() + QStringLiteral("/my \"apps\" $HOME `x` back\\slash/ambrano");
    const QString entry = dir.path() + QStringLiteral("/autostart/ambrano.desktop"), neighbour = entry + QStringLiteral(".other");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(program).path()));
    QFile script(program);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly) && script.write("#!/bin/sh\ntouch \"$0.started\"\n") > 0);
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    Autostart autostart(entry);
    EXPECT_FALSE(autostart.enable(QStringLiteral("/opt/a\nExec=rm -rf ~")) || autostart.enable(QStringLiteral("relative/ambrano")));
    EXPECT_FALSE(autostart.enabled());
    ASSERT_TRUE(autostart.enable(program) && autostart.enabled());
    QProcess gio;
    gio.start(QStringLiteral("gio"), {QStringLiteral("launch"), entry});
    ASSERT_TRUE(gio.waitForFinished(10000));
    EXPECT_EQ(gio.exitCode(), 0) << gio.readAllStandardError().toStdString();
    EXPECT_TRUE(waitFor([&] { return QFile::exists(program + QStringLiteral(".started")); }));
    QFile(neighbour).open(QIODevice::WriteOnly);
    EXPECT_TRUE(autostart.disable() && autostart.disable());
    EXPECT_FALSE(autostart.enabled());
    EXPECT_TRUE(QFile::exists(neighbour));
}
