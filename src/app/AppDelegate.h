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

    // Where the panel opens: under the tray icon, or at the pointer when the tray does not
    // say where its icon is (StatusNotifierItem hosts never do).
    static QRect popoverAnchor(const QRect& iconGeometry, QPoint pointer);

    QSystemTrayIcon* statusItem() const { return statusItem_.get(); }
    Popover* popover() const { return popover_.get(); }
    PopoverViewController* popoverController() const { return controller_.get(); }
    // The context menu, attached to the item so that every kind of tray can show it
    // (a StatusNotifierItem host shows it itself and reads it over D-Bus).
    QMenu* contextMenu() const { return menu_.get(); }

private:
    void buildContextMenu();
    void retitleContextMenu();
    // Restores the displays; safe to run more than once (menu, signal, session end).
    void restoreBeforeExit();

    SleepWatcher* sleepWatcher_ = nullptr;
    // Goes after the status item, which refers to it.
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> statusItem_;
    std::unique_ptr<Popover> popover_;
    // Goes before the popover: it takes its views with it.
    std::unique_ptr<PopoverViewController> controller_;
    bool quitting_ = false;
    bool pwmRestored_ = false;
};
