#pragma once
// A popover panel built over its own engine, PWM-safe controller, tips and scheduler, with
// fake displays, a fake backlight and a fake process list behind them.

#include "brightness/PWMSafe.h"
#include "engine/VeskEngine.h"
#include "online/Tips.h"
#include "platform/NotificationCenter.h"
#include "schedule/Scheduler.h"
#include "system/ConflictDetector.h"
#include "system/Localization.h"
#include "ui/PopoverViewController.h"

#include "FakeBacklight.h"
#include "FakeDisplayServices.h"
#include "FakeRunningApplications.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <memory>
#include <vector>

class PanelTest : public ::testing::Test {
protected:
    static constexpr DisplayID builtinID = 1;
    static constexpr DisplayID externalID = 2;

    void SetUp() override
    {
        Localization::shared().set(Lang::en);
        engine.setDisplayServices(&displays);
        pwm.setDisplayServices(&displays);
        pwm.setDDC(nullptr);
        pwm.setSleep([](std::chrono::microseconds) {});
        // The panel hears of PWM-safe state changes the way the shell wires it.
        pwm.onStateChange = [](PWMState) { NotificationCenter::shared().post(QString::fromLatin1(NotificationName::veskPWMState)); };
        ConflictDetector::setRunningApplications(&apps);
        tips.setCachePath(dir.path() + QStringLiteral("/tips.json"));
        tips.setRandomSource([this](int bound) { return static_cast<int>(draws++ % bound); });
        setTips({text("Tip one"), text("Tip two"), text("Tip three")});
    }

    void TearDown() override
    {
        panel.reset();
        pwm.waitUntilIdle();
        ConflictDetector::setRunningApplications(nullptr);
        Localization::shared().set(Lang::en);
    }

    static MessageSource text(const QString& en)
    {
        return {{QStringLiteral("en"), en}, {QStringLiteral("es"), QStringLiteral("es: ") + en}};
    }

    // Replaces the tip pool; no promotional lines.
    void setTips(const QList<MessageSource>& list)
    {
        Tips::Document document;
        document.tips = list;
        document.ads = QList<MessageSource>{};
        tips.apply(document);
    }

    // A built-in panel with its backlight at `level`.
    void builtinAt(float level)
    {
        displays.addDisplay(builtinID, true);
        backlight.panels[builtinID].level = level;
        pwm.setBacklight(backlight.functions());
    }

    PopoverViewController& make()
    {
        PopoverViewController::Services services;
        services.engine = &engine;
        services.pwmSafe = &pwm;
        services.tips = &tips;
        services.scheduler = &scheduler;
        services.openURL = [this](const QUrl& url) { opened.push_back(url); };
        panel = std::make_unique<PopoverViewController>(services);
        panel->onPreferredContentSizeChange = [this](QSize size) { sizes.push_back(size); };
        panel->view();
        return *panel;
    }

    FreshSettings settings;
    QTemporaryDir dir;
    FakeDisplayServices displays;
    FakeBacklight backlight;
    FakeRunningApplications apps;
    VeskEngine engine;
    PWMSafe pwm;
    Tips tips{QStringLiteral("http://REPLACE.invalid/tips.json")};
    Scheduler scheduler{engine};
    std::atomic<unsigned> draws{0};
    std::vector<QUrl> opened;
    std::vector<QSize> sizes;
    std::unique_ptr<PopoverViewController> panel;
};
