#include "app/AppDelegate.h"

#include "brightness/PWMSafe.h"
#include "engine/VeskEngine.h"
#include "online/Tips.h"
#include "online/Updater.h"
#include "platform/NotificationCenter.h"
#include "platform/SettingsStore.h"
#include "schedule/AppSettings.h"
#include "schedule/Scheduler.h"
#include "system/Autostart.h"
#include "system/EventLog.h"
#include "system/HotKey.h"
#include "system/Localization.h"
#include "ui/DisplayWarning.h"
#include "ui/SettingsWindowController.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QCursor>
#include <QKeySequence>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <array>
#include <cstdio>

namespace {

const char* const kFirstLaunchDone = "vesk.firstLaunchDone";

QPixmap boltPixmap(int size, const QColor& fill, const QColor& edge)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 24.0, size / 24.0);
    QPainterPath bolt;
    bolt.moveTo(14.2, 1.5);
    bolt.lineTo(4.0, 13.6);
    bolt.lineTo(10.6, 13.6);
    bolt.lineTo(9.2, 22.5);
    bolt.lineTo(20.0, 9.6);
    bolt.lineTo(13.2, 9.6);
    bolt.closeSubpath();
    painter.setPen(QPen(edge, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(fill);
    painter.drawPath(bolt);
    return pixmap;
}

QIcon boltIcon(bool active)
{
    QIcon result;
    const QColor fill = active ? Theme::veskRed() : Theme::veskWhite();
    const QColor edge = active ? Theme::veskRed().darker(160) : QColor(0, 0, 0, 140);
    for (int size : {16, 22, 24, 32, 48, 64})
        result.addPixmap(boltPixmap(size, fill, edge));
    return result;
}

}  // namespace

AppDelegate::AppDelegate(SleepWatcher* sleepWatcher, QObject* parent)
    : QObject(parent)
    , sleepWatcher_(sleepWatcher)
    , popover_(std::make_unique<Popover>())
{
    // The engine's lowest brightness follows the extreme-dimming setting. Observed from here,
    // before the panel exists, so the engine has moved when the panel refreshes on the change.
    const auto handFloor = [] { VeskEngine::shared().setBrightnessFloor(AppSettings::brightnessFloor()); };
    handFloor();
    NotificationCenter::shared().addObserver(QString::fromLatin1(AppSettings::didChange), this, handFloor);
    buildContextMenu();
}

AppDelegate::~AppDelegate()
{
    VeskEngine::shared().onChange = nullptr;
    VeskEngine::shared().onDisplayProblemsChange = nullptr;
    HotKey::shared().onTrigger = nullptr;
    PWMSafe::shared().onStateChange = nullptr;
    NotificationCenter::shared().removeObservers(this);
    if (sleepWatcher_)
        sleepWatcher_->setOnWake(nullptr);
}

QIcon AppDelegate::icon(bool active)
{
    // Built once and never freed: a new icon on every change left its scaled copies behind in
    // Qt's pixmap cache (keyed by pixmaps that no longer existed) while a tray showed it.
    static const auto* const icons = new std::array<QIcon, 2>{boltIcon(false), boltIcon(true)};
    return (*icons)[active ? 1 : 0];
}

void AppDelegate::applicationDidFinishLaunching()
{
    // 1-2. The tray item with the neutral bolt; both mouse buttons reach statusClicked.
    statusItem_ = std::make_unique<QSystemTrayIcon>(icon(false));
    statusItem_->setToolTip(QStringLiteral("Ambrano"));
    statusItem_->setContextMenu(menu_.get());
    connect(statusItem_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Context)
            statusClicked(true);
        else  // a quick second click arrives as a double click; it is still a click
            statusClicked(false);
    });
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        std::fprintf(stderr, "ambrano: no system tray is running; the icon appears when one starts\n");
    statusItem_->show();

    // 3. The panel's controller; its views are built when the panel first opens (start-up
    // stays quick and the hotkey is live sooner). The popup's height follows the panel's.
    controller_ = std::make_unique<PopoverViewController>();
    controller_->onPreferredContentSizeChange = [popover = QPointer<Popover>(popover_.get())](QSize size) {
        if (popover)
            popover->setContentSize(size);
    };

    // 4. The icon follows the filter, red only where a display shows it.
    QPointer<AppDelegate> self(this);
    // Only a real change reaches the tray.
    auto updateIcon = [self] {
        if (!self || !self->statusItem_)
            return;
        const QIcon next = icon(DisplayWarning::filterVisible(VeskEngine::shared()));
        if (self->statusItem_->icon().cacheKey() != next.cacheKey())
            self->statusItem_->setIcon(next);
    };
    VeskEngine::shared().onChange = [updateIcon](bool) { updateIcon(); };
    VeskEngine::shared().onDisplayProblemsChange = [updateIcon] {
        updateIcon();
        if (VeskEngine::shared().enabled()) {
            const QString line = DisplayWarning::logLine(VeskEngine::shared());
            EventLog::shared().add(line);
            std::fprintf(stderr, "ambrano: %s\n", qPrintable(line));
        }
        NotificationCenter::shared().post(QString::fromLatin1(NotificationName::veskDisplayProblems));
    };

    // 5. Re-apply after display changes.
    VeskEngine::shared().registerDisplayReconfigure();

    // 6. Wake from sleep.
    if (sleepWatcher_) {
        sleepWatcher_->setOnWake([self] {
            if (self)
                self->wake();
        });
    }

    // 7. The panel's settings button.
    NotificationCenter::shared().addObserver(
        QString::fromLatin1(NotificationName::veskOpenSettings), this, [this] { openSettingsRequested(); });
    NotificationCenter::shared().addObserver(
        QString::fromLatin1(Localization::didChange), this, [this] { retitleContextMenu(); });

    // 8. The global shortcut toggles the filter.
    HotKey::shared().onTrigger = [] { VeskEngine::shared().toggle(); };
    HotKey::shared().registerHotKey();

    // 9. PWM-safe state changes make the panel refresh.
    PWMSafe::shared().onStateChange = [](PWMState) {
        NotificationCenter::shared().post(QString::fromLatin1(NotificationName::veskPWMState));
    };
    // 10.
    Tips::shared().refreshRemote();
    // 11.
    Updater::shared().checkInBackground();
    // 12. The schedule may switch the filter on.
    Scheduler::shared().refresh();

    // 13.
    EventLog::shared().add(QStringLiteral("launched"));

    // 14. First launch: open the panel once, a moment after start-up.
    SettingsStore& store = SettingsStore::shared();
    if (!store.boolValue(QString::fromLatin1(kFirstLaunchDone))) {
        store.setValue(QString::fromLatin1(kFirstLaunchDone), true);
        QTimer::singleShot(firstLaunchDelayMs, this, [self] {
            if (self)
                self->showPopover();
        });
    }

    // The end of the desktop session takes the same road as Quit.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { restoreBeforeExit(); });
}

void AppDelegate::statusClicked(bool rightButton)
{
    if (rightButton) {
        // An X tray has already opened the attached menu; a StatusNotifierItem host that
        // cannot show menus itself asks for it here.
        if (menu_ && !menu_->isVisible())
            menu_->popup(QCursor::pos());
        return;
    }
    // On a tray that is not ours (no icon geometry), the click that closed the panel comes
    // back as a click on the icon.
    const bool foreignTray = statusItem_ && statusItem_->geometry().isEmpty();
    if (popover_->isShown())
        popover_->performClose();
    else if (!(foreignTray && popover_->closedByThisClick()))
        showPopover();
}

void AppDelegate::buildContextMenu()
{
    // Each item keeps its text key, so a language change retitles the menu in place.
    menu_ = std::make_unique<QMenu>();
    const auto add = [this](const char* key, void (AppDelegate::*slot)(), QKeySequence shortcut) {
        QAction* action = menu_->addAction(QString(), this, slot);
        action->setData(QString::fromLatin1(key));
        action->setShortcut(shortcut);
    };
    add("settings", &AppDelegate::openSettings, QKeySequence(Qt::CTRL | Qt::Key_Comma));
    add("about", &AppDelegate::about, QKeySequence());
    // Checked from the login items each time the menu opens; only the user's own toggle
    // (triggered, not toggled) writes them.
    QAction* login = menu_->addAction(QString());
    login->setData(QStringLiteral("start_at_login"));
    login->setCheckable(true);
    login->setChecked(Autostart().enabled());
    connect(login, &QAction::triggered, this, [](bool on) {
        on ? Autostart().enable(QCoreApplication::applicationFilePath()) : Autostart().disable();
    });
    connect(menu_.get(), &QMenu::aboutToShow, login, [login] { login->setChecked(Autostart().enabled()); });
    menu_->addSeparator();
    add("quit", &AppDelegate::quit, QKeySequence(Qt::CTRL | Qt::Key_Q));
    retitleContextMenu();
}

void AppDelegate::retitleContextMenu()
{
    for (QAction* action : menu_->actions()) {
        if (!action->isSeparator())
            action->setText(L(action->data().toString()));
    }
}

QRect AppDelegate::popoverAnchor(const QRect& iconGeometry, QPoint pointer)
{
    if (iconGeometry.isValid() && !iconGeometry.isEmpty())
        return iconGeometry;
    return QRect(pointer, QSize(1, 1));
}

void AppDelegate::showPopover()
{
    if (!statusItem_)
        return;
    if (controller_ && !popover_->contentWidget())
        popover_->setContentWidget(controller_->view());
    popover_->showRelativeTo(popoverAnchor(statusItem_->geometry(), QCursor::pos()));
}

void AppDelegate::wake()
{
    QPointer<AppDelegate> self(this);
    QTimer::singleShot(wakeDelayMs, this, [self] {
        if (!self)
            return;
        VeskEngine::shared().reapply();
        Scheduler::shared().refresh();
    });
}

void AppDelegate::openSettings()
{
    SettingsWindowController::shared().show();
}

void AppDelegate::openSettingsRequested()
{
    popover_->performClose();
    openSettings();
}

void AppDelegate::about()
{
    QMessageBox box;
    box.setIcon(QMessageBox::NoIcon);
    box.setIconPixmap(icon(true).pixmap(48, 48));
    box.setWindowTitle(QStringLiteral("Ambrano"));
    box.setText(QStringLiteral("Ambrano \u00B7 por Marren"));
    box.setInformativeText(L(QStringLiteral("about_body")));
    box.exec();
}

void AppDelegate::quit()
{
    if (quitting_)
        return;
    quitting_ = true;
    restoreBeforeExit();
    QCoreApplication::quit();
}

void AppDelegate::restoreBeforeExit()
{
    VeskEngine& engine = VeskEngine::shared();
    if (engine.enabled())
        engine.setEnabled(false);
    else
        engine.apply();  // off already: still hand back anything left written
    // Waits for a PWM-safe request still running, then hands back the hardware brightness.
    if (!pwmRestored_) {
        pwmRestored_ = true;
        PWMSafe::shared().disable();
    }
}
