#include "system/Autostart.h"

#include "app/AppDelegate.h"
#include "system/Localization.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QProcess>
#include <QTemporaryDir>

// The entry as a desktop session reads it: GLib's launcher runs a program whose path holds
// every character the Exec key quotes or escapes.
TEST(Autostart, TheEntryStartsTheProgramWhateverItsPath)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + QStringLiteral("/my \"apps\" $HOME `x` back\\slash");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString program = folder + QStringLiteral("/ambrano");
    const QString marker = dir.path() + QStringLiteral("/started");
    {
        QFile script(program);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(("#!/bin/sh\ntouch '" + marker + "'\n").toUtf8());
        script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    Autostart autostart(dir.path() + QStringLiteral("/config/autostart/ambrano.desktop"));
    EXPECT_FALSE(autostart.enabled());
    ASSERT_TRUE(autostart.enable(program));
    EXPECT_TRUE(autostart.enabled());

    QProcess gio;
    gio.start(QStringLiteral("gio"), {QStringLiteral("launch"), dir.path() + QStringLiteral("/config/autostart/ambrano.desktop")});
    ASSERT_TRUE(gio.waitForFinished(10000));
    EXPECT_EQ(gio.exitCode(), 0) << gio.readAllStandardError().toStdString();
    EXPECT_TRUE(waitFor([&] { return QFile::exists(marker); }));

    // A line break cannot be put in the key: nothing is written.
    Autostart other(dir.path() + QStringLiteral("/other.desktop"));
    EXPECT_FALSE(other.enable(QStringLiteral("/opt/a\nExec=rm -rf ~")));
    EXPECT_FALSE(other.enabled());
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
    auto item = [&delegate]() -> QAction* {
        delegate.statusClicked(true);
        QMenu* menu = delegate.contextMenu();
        for (QAction* action : menu ? menu->actions() : QList<QAction*>()) {
            if (action->text() == QStringLiteral("Start at login"))
                return action;
        }
        return nullptr;
    };
    QAction* action = item();
    ASSERT_NE(action, nullptr);
    ASSERT_TRUE(action->isCheckable());
    EXPECT_FALSE(action->isChecked());
    action->trigger();
    delegate.contextMenu()->close();

    QFile entry(folder + QStringLiteral("/ambrano.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_TRUE(entry.readAll().contains("\nExec=\"" + QCoreApplication::applicationFilePath().toUtf8() + "\"\n"));
    entry.close();

    action = item();
    ASSERT_NE(action, nullptr);
    EXPECT_TRUE(action->isChecked());
    action->trigger();
    delegate.contextMenu()->close();
    EXPECT_FALSE(entry.exists());
    EXPECT_TRUE(neighbour.exists());
}
