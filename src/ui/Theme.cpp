#include "ui/Theme.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

#include <cstdint>

namespace Theme {

namespace {

// Families with a real heavy face, most like a desktop interface font first. DejaVu Sans,
// the usual default, has none: asking it for heavy gives plain bold.
const char* const preferredFamilies[] = {"Inter", "Noto Sans", "Cantarell", "Roboto", "Lato"};

bool hasHeavyFace(const QString& family)
{
    const QStringList styles = QFontDatabase::styles(family);
    for (const QString& style : styles) {
        if (QFontDatabase::weight(family, style) >= QFont::ExtraBold && !QFontDatabase::italic(family, style))
            return true;
    }
    return false;
}

QString pickFamily()
{
    const QStringList installed = QFontDatabase::families();
    for (const char* name : preferredFamilies) {
        const QString family = QString::fromLatin1(name);
        if (installed.contains(family) && hasHeavyFace(family))
            return family;
    }
    return QGuiApplication::font().family();
}

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

}  // namespace

QString uiFamily()
{
    static const QString family = pickFamily();
    return family;
}

QFont systemFont(qreal size, QFont::Weight weight)
{
    QFont font(uiFamily());
    // Frames are in logical pixels; so is the size, whatever DPI the screen reports.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const qreal dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
    font.setPointSizeF(size * 72.0 / (dpi > 0 ? dpi : 96.0));
    font.setWeight(weight);
    return font;
}

std::optional<QColor> colorFromHex(const QString& text)
{
    QString s = text.trimmed();
    if (s.startsWith(u'#'))
        s.remove(0, 1);
    if (s.size() != 6)
        return std::nullopt;

    // Six base-16 characters; the first may be a sign instead (a negative value keeps the
    // low 24 bits of its two's complement).
    int start = 0;
    bool negative = false;
    if (s[0] == u'+' || s[0] == u'-') {
        negative = s[0] == u'-';
        start = 1;
    }
    std::int64_t value = 0;
    for (int i = start; i < s.size(); ++i) {
        const int digit = hexDigit(s[i]);
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + digit;
    }
    if (negative)
        value = -value;
    const auto bits = static_cast<std::uint32_t>(value) & 0xFFFFFFu;
    return QColor::fromRgbF(((bits >> 16) & 0xFF) / 255.0f, ((bits >> 8) & 0xFF) / 255.0f, (bits & 0xFF) / 255.0f, 1.0f);
}

}  // namespace Theme

VeskFlatButton::VeskFlatButton(const QString& title, QWidget* parent)
    : QAbstractButton(parent)
{
    // Callers size and place the button; it draws no focus frame and takes no focus.
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    titleStr_ = title;
    updateTitle();
}

VeskFlatButton::VeskFlatButton(const QString& title, std::function<void()> action, QWidget* parent)
    : VeskFlatButton(title, parent)
{
    if (action)
        connect(this, &QAbstractButton::clicked, this, [action = std::move(action)] { action(); });
}

void VeskFlatButton::setBg(const QColor& color)
{
    bg_ = color;
    update();
}

void VeskFlatButton::setFg(const QColor& color)
{
    fg_ = color;
    updateTitle();
}

void VeskFlatButton::setTitleStr(const QString& title)
{
    titleStr_ = title;
    updateTitle();
}

void VeskFlatButton::setActive(bool active)
{
    active_ = active;
    updateTitle();
    update();
}

void VeskFlatButton::setCornerRadius(qreal radius)
{
    cornerRadius_ = radius;
    update();
}

void VeskFlatButton::updateTitle()
{
    titleText_ = titleStr_;
    titleColor_ = active_ ? Theme::veskBlack() : fg_;
    titleFont_ = Theme::systemFont(fontSize_, Theme::heavy);
    titleFont_.setLetterSpacing(QFont::AbsoluteSpacing, 1.2);
    // Not setText(): an "&" in a title would become a keyboard shortcut.
    setAccessibleName(titleStr_);
    update();
}

void VeskFlatButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QRectF bounds = rect();
    const qreal r = cornerRadius_;

    QPainterPath fill;
    fill.addRoundedRect(bounds, r, r);
    if (!flagMode_) {
        painter.fillPath(fill, active_ ? Theme::veskRed() : bg_);
    } else {
        painter.fillPath(fill, bg_);
        if (active_) {
            QPainterPath outline;
            outline.addRoundedRect(bounds.adjusted(1.0, 1.0, -1.0, -1.0), r, r);
            painter.strokePath(outline, QPen(Theme::veskRed(), 2.0));
        }
    }

    if (titleText_.isEmpty())
        return;
    painter.setFont(titleFont_);
    painter.setPen(titleColor_);
    painter.drawText(bounds, Qt::AlignCenter | Qt::TextSingleLine, titleText_);
}
