#pragma once
// The main panel under the tray icon: warmth and brightness sliders, three warmth presets,
// the PWM-safe and schedule switches, the day/night switch that turns the filter on and off,
// the flicker and conflict warning bars, and a rotating tip with an optional image and link.
// Everything it shows is read back from the services, except what is slow to ask for (the
// running applications, the backlight, the display list): that is read on opening and on the
// 3 s tick, so a slider drag costs no more than the engine's own work.
// Where things sit: PanelLayout; the tips' pictures: TipPictures.

#include "online/TipMessage.h"
#include "ui/FlippedView.h"
#include "ui/PanelLayout.h"
#include "ui/TipPictures.h"

#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <optional>
#include <vector>

class PWMSafe;
class Scheduler;
class Tips;
class VeskEngine;

class PopoverViewController : public QObject {
    Q_OBJECT

public:
    // The services the panel reads and drives; the shared instances unless a test gives its own.
    struct Services {
        VeskEngine* engine = nullptr;
        PWMSafe* pwmSafe = nullptr;
        Tips* tips = nullptr;
        Scheduler* scheduler = nullptr;
        // Hands an address to the user's default handler (the browser).
        std::function<void(const QUrl&)> openURL;

        static Services shared();
    };

    using Preset = PanelLayout::Preset;
    using Flag = PanelLayout::Flag;

    static constexpr int refreshIntervalMs = 3000;
    static constexpr int tipIntervalMs = 9000;
    // Where the author link goes when the tips feed names no address.
    static constexpr const char* defaultAuthorURL = "https://marren.dev";

    explicit PopoverViewController(Services services = Services::shared(), QObject* parent = nullptr);
    ~PopoverViewController() override;

    // The root view, built on first use.
    FlippedView* view();
    bool isViewLoaded() const { return root_ != nullptr; }

    // The height the panel wants; told to onPreferredContentSizeChange when it changes.
    QSize preferredContentSize() const { return preferredSize_; }
    std::function<void(QSize)> onPreferredContentSizeChange;

    // The popup opened / closed. Opening refreshes, shows a new tip and starts the timers;
    // closing stops them.
    void viewWillAppear();
    void viewDidDisappear();

    // Shows what the services hold, with the running applications and the hardware as last read.
    void refresh();
    // Reads the running applications and the hardware afresh, then refreshes (the 3 s tick).
    void readSystem();
    void showMessage(const TipMessage& tip);
    void relocalize();

    // What the panel shows, for the tests and the shell.
    VeskSlider* warmthSlider() const { return layout_.warmthSlider; }
    VeskSlider* brightSlider() const { return layout_.brightSlider; }
    QLabel* titleLabel() const { return layout_.title; }
    QLabel* warmthValue() const { return layout_.warmthValue; }
    QLabel* brightValue() const { return layout_.brightValue; }
    QLabel* warmthLabel() const { return layout_.warmthLabel; }
    QLabel* brightLabel() const { return layout_.brightLabel; }
    QLabel* subtitle() const { return layout_.subtitle; }
    ClickableArea* authorLink() const { return layout_.authorLink; }
    VeskFlatButton* settingsButton() const { return layout_.settingsButton; }
    MiniToggle* pwmSwitch() const { return layout_.pwmSwitch; }
    QLabel* pwmLabel() const { return layout_.pwmLabel; }
    MiniToggle* autoSwitch() const { return layout_.autoSwitch; }
    QLabel* autoLabel() const { return layout_.autoLabel; }
    ThemeSwitch* themeSwitch() const { return layout_.themeSwitch; }
    QLabel* filterOffLabel() const { return layout_.filterOffLabel; }
    QLabel* filterOnLabel() const { return layout_.filterOnLabel; }
    VeskFlatButton* flickerBar() const { return layout_.flickerBar; }
    VeskFlatButton* conflictBar() const { return layout_.conflictBar; }
    QLabel* tipLabel() const { return layout_.tipLabel; }
    RoundedImageView* tipImageView() const { return layout_.tipImageView; }
    ClickableArea* tipLinkOverlay() const { return layout_.tipLinkOverlay; }
    const std::vector<Preset>& presets() const { return layout_.presets; }
    const std::vector<Flag>& flags() const { return layout_.flags; }
    std::optional<QPixmap> currentImage() const { return currentImage_; }
    std::optional<QString> currentImageURL() const { return currentImageURL_; }
    std::optional<QString> currentLinkURL() const { return currentLinkURL_; }
    bool imageCached(const QString& address) const { return pictures_->cached(address); }
    QTimer* tick() const { return tick_; }
    QTimer* tipTimer() const { return tipTimer_; }
    // The author link's address as read at the last build.
    QString authorURL() const { return authorURL_; }

    // "%.0f%%".
    static QString percentText(double value);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // What is slow to ask for: the process list, sysfs, the X server.
    struct Readings {
        bool pwmAvailable = false;
        std::optional<float> hardwareLevel;
        std::optional<QString> conflict;
    };

    void loadView();
    void build();
    void readHardware();
    void setPresetHighlights(double warmth);
    void refreshBars();
    void relayoutBottom();
    void loadImage(const std::optional<QString>& address);
    void openLink(const QString& text);

    // Actions.
    void flagTapped(VeskFlatButton* sender);
    void openSettingsFromPopover();
    void warmthChanged();
    void brightChanged();
    void presetTapped(VeskFlatButton* sender);
    void pwmToggled();
    void enablePWM();
    void autoToggled();
    void themeToggled();
    void veskTapped();
    void settingsChanged();

    Services services_;
    QPointer<FlippedView> root_;
    const QObject* rootObject_ = nullptr;
    QSize preferredSize_{PanelLayout::width, PanelLayout::initialHeight};
    PanelLayout layout_;
    Readings readings_;

    QPointer<QTimer> tick_;
    QPointer<QTimer> tipTimer_;
    std::optional<QPixmap> currentImage_;
    std::optional<QString> currentImageURL_;
    std::optional<QString> currentLinkURL_;
    QString authorURL_;
    TipPictures* pictures_;
};
