#pragma once
// The main panel under the tray icon: warmth and brightness sliders, three warmth presets,
// the PWM-safe and schedule switches, the day/night switch that turns the filter on and off,
// the flicker and conflict warning bars, and a rotating tip with an optional image and link.
// It keeps no state of its own: everything it shows is read back from the services.

#include "online/TipMessage.h"
#include "system/Localization.h"
#include "ui/ClickableArea.h"
#include "ui/FlippedView.h"
#include "ui/MiniToggle.h"
#include "ui/RoundedImageView.h"
#include "ui/Theme.h"
#include "ui/ThemeSwitch.h"
#include "ui/VeskSlider.h"

#include <QHash>
#include <QLabel>
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
class QNetworkAccessManager;
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

    struct Preset {
        QPointer<VeskFlatButton> btn;
        QString key;
        double warmth;
    };
    struct Flag {
        QPointer<VeskFlatButton> btn;
        Lang lang;
    };

    static constexpr int width = 372;
    static constexpr int initialHeight = 640;
    static constexpr int refreshIntervalMs = 3000;
    static constexpr int tipIntervalMs = 9000;
    // A tip image larger than this is abandoned mid-download.
    static constexpr qint64 maxImageBytes = 2 * 1024 * 1024;
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

    // Re-reads everything from the services.
    void refresh();
    void showMessage(const TipMessage& tip);
    void relocalize();

    // What the panel shows, for the tests and the shell.
    VeskSlider* warmthSlider() const { return warmthSlider_; }
    VeskSlider* brightSlider() const { return brightSlider_; }
    QLabel* titleLabel() const { return title_; }
    QLabel* warmthValue() const { return warmthValue_; }
    QLabel* brightValue() const { return brightValue_; }
    QLabel* warmthLabel() const { return warmthLabel_; }
    QLabel* brightLabel() const { return brightLabel_; }
    QLabel* subtitle() const { return subtitle_; }
    ClickableArea* authorLink() const { return authorLink_; }
    VeskFlatButton* settingsButton() const { return settingsButton_; }
    MiniToggle* pwmSwitch() const { return pwmSwitch_; }
    QLabel* pwmLabel() const { return pwmLabel_; }
    MiniToggle* autoSwitch() const { return autoSwitch_; }
    QLabel* autoLabel() const { return autoLabel_; }
    ThemeSwitch* themeSwitch() const { return themeSwitch_; }
    QLabel* filterOffLabel() const { return filterOffLabel_; }
    QLabel* filterOnLabel() const { return filterOnLabel_; }
    VeskFlatButton* flickerBar() const { return flickerBar_; }
    VeskFlatButton* conflictBar() const { return conflictBar_; }
    QLabel* tipLabel() const { return tipLabel_; }
    RoundedImageView* tipImageView() const { return tipImageView_; }
    ClickableArea* tipLinkOverlay() const { return tipLinkOverlay_; }
    const std::vector<Preset>& presets() const { return presets_; }
    const std::vector<Flag>& flags() const { return flags_; }
    std::optional<QPixmap> currentImage() const { return currentImage_; }
    std::optional<QString> currentImageURL() const { return currentImageURL_; }
    std::optional<QString> currentLinkURL() const { return currentLinkURL_; }
    bool imageCached(const QString& address) const { return imageCache_.contains(address); }
    QTimer* tick() const { return tick_; }
    QTimer* tipTimer() const { return tipTimer_; }
    // The author link's address as read at the last build.
    QString authorURL() const { return authorURL_; }

    // The credits line split around the author's name: (prefix, name).
    static std::pair<QString, QString> creditsParts(const QString& subtitle);
    // "Filter off" → "Filter\noff": the first blank becomes a line break.
    static QString twoLineCaption(const QString& text);
    // "%.0f%%".
    static QString percentText(double value);
    // Title size: the product name scaled to 232 wide in the heavy face, never above 24.
    static double titleFontSize();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void loadView();
    void build();
    void clearViews();
    QLabel* makeLabel(const QString& text, const QFont& font, const QColor& color, Qt::Alignment alignment, QRect frame);
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
    QSize preferredSize_{width, initialHeight};

    QPointer<QTimer> tick_;
    QPointer<QTimer> tipTimer_;
    QPointer<VeskSlider> warmthSlider_;
    QPointer<VeskSlider> brightSlider_;
    QPointer<QLabel> title_;
    QPointer<QLabel> warmthValue_;
    QPointer<QLabel> brightValue_;
    QPointer<QLabel> warmthLabel_;
    QPointer<QLabel> brightLabel_;
    QPointer<QLabel> subtitle_;
    QPointer<ClickableArea> authorLink_;
    QPointer<VeskFlatButton> settingsButton_;
    QPointer<MiniToggle> pwmSwitch_;
    QPointer<QLabel> pwmLabel_;
    QPointer<MiniToggle> autoSwitch_;
    QPointer<QLabel> autoLabel_;
    QPointer<ThemeSwitch> themeSwitch_;
    QPointer<QLabel> filterOffLabel_;
    QPointer<QLabel> filterOnLabel_;
    QPointer<VeskFlatButton> flickerBar_;
    QPointer<VeskFlatButton> conflictBar_;
    QPointer<QLabel> tipLabel_;
    QPointer<RoundedImageView> tipImageView_;
    std::optional<QPixmap> currentImage_;
    std::optional<QString> currentImageURL_;
    std::optional<QString> currentLinkURL_;
    QPointer<ClickableArea> tipLinkOverlay_;
    QHash<QString, QPixmap> imageCache_;
    std::vector<Preset> presets_;
    std::vector<Flag> flags_;
    QString authorURL_;

    QNetworkAccessManager* network_ = nullptr;
};
