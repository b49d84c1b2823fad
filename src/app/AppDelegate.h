#pragma once
// Wires the services together at launch and owns the tray icon and its panel.

#include "platform/SleepWatcher.h"
#include "ui/Popover.h"
#include "ui/PopoverViewController.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include <memory>

#include <QMenu>

class AppDelegate : public QObject {
    Q_OBJECT

public:
    static constexpr int firstLaunchDelayMs = 700;
    static constexpr int wakeDelayMs = 500;

    explicit AppDelegate(SleepWatcher* sleepWatcher = nullptr, QObject* parent = nullptr);
    ~AppDelegate() override;

    // The start-up sequence, run once the event loop is up.
    void applicationDidFinishLaunching();

    // The tray image: a neutral bolt when off, a red one when on.
    static QIcon icon(bool active);

    void statusClicked(bool rightButton);
    void showPopover();
    void wake();
    void openSettings();
    void openSettingsRequested();
    void about();
    void quit();

    QSystemTrayIcon* statusItem() const { return statusItem_.get(); }
    Popover* popover() const { return popover_.get(); }
    PopoverViewController* popoverController() const { return controller_.get(); }
    // The context menu while it is open (it is built for each right click).
    QMenu* contextMenu() const { return menu_; }

private:
    QMenu* buildContextMenu();
    // Restores the displays; safe to run more than once (menu, signal, session end).
    void restoreBeforeExit();

    SleepWatcher* sleepWatcher_ = nullptr;
    std::unique_ptr<QSystemTrayIcon> statusItem_;
    std::unique_ptr<Popover> popover_;
    // Goes before the popover: it takes its views with it.
    std::unique_ptr<PopoverViewController> controller_;
    QPointer<QMenu> menu_;
    bool quitting_ = false;
    bool pwmRestored_ = false;
};
