#pragma once
// Where everything in the panel sits and how it looks: builds the views of one build on the
// panel's root and places the bottom area (tip, picture, warning bars). What the views do is
// handed in as actions; the panel's behaviour lives in PopoverViewController.

#include "system/Localization.h"
#include "ui/ClickableArea.h"
#include "ui/MiniToggle.h"
#include "ui/RoundedImageView.h"
#include "ui/Theme.h"
#include "ui/ThemeSwitch.h"
#include "ui/VeskSlider.h"

#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

class PanelLayout {
public:
    static constexpr int width = 372;
    static constexpr int initialHeight = 640;
    // Shown this size beside the tip.
    static constexpr int imageSide = 66;

    struct Preset {
        QPointer<VeskFlatButton> btn;
        QString key;
        double warmth;
    };
    struct Flag {
        QPointer<VeskFlatButton> btn;
        Lang lang;
    };

    // What the controls do.
    struct Actions {
        std::function<void(VeskFlatButton*)> flagTapped;
        std::function<void(VeskFlatButton*)> presetTapped;
        std::function<void()> openSettings;
        std::function<void()> authorLinkClicked;
        std::function<void()> warmthChanged;
        std::function<void()> brightChanged;
        std::function<void()> pwmToggled;
        std::function<void()> autoToggled;
        std::function<void()> themeToggled;
        std::function<void()> flickerBarClicked;
        std::function<void()> conflictBarClicked;
        std::function<void()> tipLinkClicked;
    };
    // The values a fresh build starts from.
    struct Start {
        double warmth;
        double brightness;
        double brightnessFloor;
        bool enabled;
    };
    struct PresetEntry {
        const char* key;
        double warmth;
    };

    // Removes the views of the previous build, then builds them all on `root`.
    void build(QWidget* root, const Start& start, const std::vector<PresetEntry>& presetTable, const Actions& actions);
    // Places the tip (with its picture when there is one) or the visible bars below the
    // controls; returns the panel's height.
    int layoutBottom(const std::optional<QPixmap>& picture, bool hasLink);

    // The credits line split around the author's name: (prefix, name).
    static std::pair<QString, QString> creditsParts(const QString& subtitle);
    // "Filter off" → "Filter\noff": the first blank becomes a line break.
    static QString twoLineCaption(const QString& text);
    // Title size: the product name scaled to 232 wide in the heavy face, never above 24.
    static double titleFontSize();
    static void setTextColor(QLabel* label, const QColor& color);

    QPointer<VeskSlider> warmthSlider;
    QPointer<VeskSlider> brightSlider;
    QPointer<QLabel> title;
    QPointer<QLabel> warmthValue;
    QPointer<QLabel> brightValue;
    QPointer<QLabel> warmthLabel;
    QPointer<QLabel> brightLabel;
    QPointer<QLabel> subtitle;
    QPointer<ClickableArea> authorLink;
    QPointer<VeskFlatButton> settingsButton;
    QPointer<MiniToggle> pwmSwitch;
    QPointer<QLabel> pwmLabel;
    QPointer<MiniToggle> autoSwitch;
    QPointer<QLabel> autoLabel;
    QPointer<ThemeSwitch> themeSwitch;
    QPointer<QLabel> filterOffLabel;
    QPointer<QLabel> filterOnLabel;
    QPointer<VeskFlatButton> flickerBar;
    QPointer<VeskFlatButton> conflictBar;
    QPointer<QLabel> tipLabel;
    QPointer<RoundedImageView> tipImageView;
    QPointer<ClickableArea> tipLinkOverlay;
    std::vector<Preset> presets;
    std::vector<Flag> flags;

private:
    void clear(QWidget* root);
    QLabel* makeLabel(const QString& text, const QFont& font, const QColor& color, Qt::Alignment alignment, QRect frame);

    QPointer<QWidget> root_;
};
