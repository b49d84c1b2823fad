#include "ui/Popover.h"

#include "ui/Theme.h"

#include <QGuiApplication>
#include <QPalette>
#include <QScreen>

#include <algorithm>

Popover::Popover(QWidget* parent)
    : QWidget(parent, Qt::Popup | Qt::FramelessWindowHint)
{
    // The click that closes the panel must not reach the tray icon and reopen it.
    setAttribute(Qt::WA_NoMouseReplay);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Theme::veskBlack());
    setPalette(pal);
    resize(defaultWidth, defaultHeight);
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
    resize(size);
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
