#include "ui/Popover.h"

#include "ui/Theme.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>

#include <algorithm>

namespace {

constexpr int kClosingClickMs = 300;

// On Wayland a window cannot place itself, and a popup needs a parent window of ours under
// the pointer, which a tray click never gives: the panel is a frameless window there,
// where the compositor puts it (a fixed size keeps tiling compositors from tiling it), and it
// closes when it loses the focus.
bool placedByCompositor()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

}  // namespace

Popover::Popover(QWidget* parent)
    : QWidget(parent, (placedByCompositor() ? Qt::Window : Qt::Popup) | Qt::FramelessWindowHint)
{
    // The click that closes the panel must not reach the tray icon and reopen it.
    setAttribute(Qt::WA_NoMouseReplay);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Theme::veskBlack());
    setPalette(pal);
    setFixedSize(defaultWidth, defaultHeight);
}

void Popover::setContentWidget(QWidget* content)
{
    if (content_ && content_ != content)
        content_->deleteLater();
    content_ = content;
    if (content_) {
        content_->setParent(this);
        content_->move(0, 0);
        content_->show();
        setContentSize(content_->size());
    }
}

void Popover::setContentSize(QSize size)
{
    if (size.isEmpty() || size == this->size())
        return;
    setFixedSize(size);
    if (content_)
        content_->resize(size);
    if (isVisible() && anchor_.isValid())
        move(placement(anchor_, size, screen() ? screen()->availableGeometry() : QRect()));
}

QPoint Popover::placement(const QRect& anchor, QSize size, const QRect& available)
{
    int x = anchor.center().x() - size.width() / 2;
    int y = anchor.bottom() + 1;
    if (available.isValid()) {
        if (y + size.height() > available.bottom() + 1 && anchor.top() - size.height() >= available.top())
            y = anchor.top() - size.height();
        x = std::clamp(x, available.left(), std::max(available.left(), available.right() + 1 - size.width()));
        y = std::clamp(y, available.top(), std::max(available.top(), available.bottom() + 1 - size.height()));
    }
    return {x, y};
}

void Popover::showRelativeTo(const QRect& anchor)
{
    anchor_ = anchor;
    QScreen* target = QGuiApplication::screenAt(anchor.center());
    if (!target)
        target = QGuiApplication::primaryScreen();
    move(placement(anchor, size(), target ? target->availableGeometry() : QRect()));
    show();
    raise();
    activateWindow();
}

void Popover::performClose()
{
    hide();
}

bool Popover::closedByThisClick() const
{
    return sinceClosed_.isValid() && !sinceClosed_.hasExpired(kClosingClickMs);
}

void Popover::hideEvent(QHideEvent* event)
{
    sinceClosed_.start();
    QWidget::hideEvent(event);
}

void Popover::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange && placedByCompositor() && isVisible() && !isActiveWindow())
        hide();
    QWidget::changeEvent(event);
}
