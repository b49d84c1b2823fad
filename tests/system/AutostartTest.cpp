#include "system/Autostart.h"

#include "app/AppDelegate.h"
#include "system/Localization.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QMenu>
#include <QProcess>

// The entry as a desktop session reads it: GLib's launcher runs a program whose path holds
// every character the Exec key quotes or escapes. A line break cannot be put in the key.
TEST(Autostart, TheEntryStartsTheProgramWhateverItsPath)
{
    QTemporaryDir dir;
    const QString program = dir.path() + QStringLiteral("/my \"apps\" $HOME `x` back\\slash/ambrano");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(program).path()));
    QFile script(program);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\ntouch \"$0.started\"\n");
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    Autostart autostart(dir.path() + QStringLiteral("/autostart/ambrano.desktop"));
    EXPECT_FALSE(autostart.enable(QStringLiteral("/opt/a\nExec=rm -rf ~")));
    EXPECT_FALSE(autostart.enable(QStringLiteral("relative/ambrano")));
    EXPECT_FALSE(autostart.enabled());
    ASSERT_TRUE(autostart.enable(program));
    EXPECT_TRUE(autostart.enabled());
    QProcess gio;
    gio.start(QStringLiteral("gio"), {QStringLiteral("launch"), dir.path() + QStringLiteral("/autostart/ambrano.desktop")});
    ASSERT_TRUE(gio.waitForFinished(10000));
    EXPECT_EQ(gio.exitCode(), 0) << gio.readAllStandardError().toStdString();
    EXPECT_TRUE(waitFor([&] { return QFile::exists(program + QStringLiteral(".started")); }));
}

// The tray menu's item: ticked when the entry is there; unticking takes only our file away.
TEST(Autostart, TheMenuItemWritesAndRemovesTheEntry)
{
    FreshSettings settings;
    Localization::shared().set(Lang::en);
    const QString folder = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/autostart");
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile neighbour(folder + QStringLiteral("/other.desktop"));
    ASSERT_TRUE(neighbour.open(QIODevice::WriteOnly));
    neighbour.close();

    AppDelegate delegate;
    const auto toggle = [&delegate](bool ticked) {
        delegate.statusClicked(true);
        for (QAction* action : delegate.contextMenu()->actions()) {
            if (action->text() == QStringLiteral("Start at login")) {
                EXPECT_TRUE(action->isCheckable());
                EXPECT_EQ(action->isChecked(), ticked);
                action->trigger();
            }
        }
        delegate.contextMenu()->close();
    };
    QFile entry(folder + QStringLiteral("/ambrano.desktop"));
    toggle(false);
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_TRUE(entry.readAll().contains("\nExec=\"" + QCoreApplication::applicationFilePath().toUtf8() + "\"\n"));
    entry.close();
    toggle(true);
    EXPECT_FALSE(entry.exists());
    EXPECT_TRUE(neighbour.exists());
}
