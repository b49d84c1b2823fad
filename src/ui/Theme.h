#pragma once
// The palette every window draws with, the font every panel shares, the colour parser for
// tip texts, and the flat button of the panels.

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QString>

#include <functional>
#include <optional>

namespace Theme {

// Panel background; the text on an active (red) button.
inline QColor veskBlack() { return QColor::fromRgbF(0.04f, 0.04f, 0.04f); }
// Resting background of buttons and raised surfaces.
inline QColor veskPanel() { return QColor::fromRgbF(0.12f, 0.12f, 0.12f); }
// The single accent: active state, switches and sliders that are on, warnings.
inline QColor veskRed() { return QColor::fromRgbF(1.0f, 0.1f, 0.1f); }
// Primary text.
inline QColor veskWhite() { return QColor::fromRgbF(0.96f, 0.96f, 0.96f); }
// Secondary text; the fallback colour of tip text.
inline QColor veskGray() { return QColor::fromRgbF(0.45f, 0.45f, 0.45f); }

// The three weights the panels use. Heavy is the 800 face.
inline constexpr QFont::Weight heavy = QFont::ExtraBold;
inline constexpr QFont::Weight bold = QFont::Bold;
inline constexpr QFont::Weight medium = QFont::Medium;

// The interface typeface at `size` logical pixels (the unit of every frame in the panels,
// whatever the screen's DPI) and the given weight. The family is the first installed one
// with a real heavy face, so heavy, bold and medium stay distinct; the default family
// otherwise.
QFont systemFont(qreal size, QFont::Weight weight);
// The family systemFont() uses.
QString uiFamily();

// "#RRGGBB" or "RRGGBB", blanks around it allowed, as found in tip messages. Absent for
// anything else (short or alpha forms, names, stray characters).
std::optional<QColor> colorFromHex(const QString& text);

}  // namespace Theme

// The flat button of the panels: a rounded fill that turns red when active (with a dark
// title), or, in flag mode, keeps its fill and shows a red outline when active. The title
// is the heavy interface font with 1.2 px letter spacing, centred.
class VeskFlatButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit VeskFlatButton(const QString& title, QWidget* parent = nullptr);
    // `action` runs on every completed click (press and release inside the button).
    VeskFlatButton(const QString& title, std::function<void()> action, QWidget* parent = nullptr);

    QColor bg() const { return bg_; }
    void setBg(const QColor& color);
    QColor fg() const { return fg_; }
    void setFg(const QColor& color);
    QString titleStr() const { return titleStr_; }
    void setTitleStr(const QString& title);
    bool active() const { return active_; }
    void setActive(bool active);
    // Takes effect at the next title rebuild.
    qreal fontSize() const { return fontSize_; }
    void setFontSize(qreal size) { fontSize_ = size; }
    // Takes effect at the next repaint.
    bool flagMode() const { return flagMode_; }
    void setFlagMode(bool on) { flagMode_ = on; }
    qreal cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(qreal radius);

    // Rebuilds the drawn title from the current properties.
    void updateTitle();

    // The title as drawn now.
    QFont titleFont() const { return titleFont_; }
    QColor titleColor() const { return titleColor_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor bg_ = Theme::veskPanel();
    QColor fg_ = Theme::veskWhite();
    QString titleStr_;
    bool active_ = false;
    qreal fontSize_ = 11.0;
    bool flagMode_ = false;
    qreal cornerRadius_ = 2.0;

    QString titleText_;
    QFont titleFont_;
    QColor titleColor_;
};
