#include "ui/ClickableArea.h"

#include <QMouseEvent>

ClickableArea::ClickableArea(QWidget* parent)
    : QWidget(parent)
{
    setShowLink(false);
}

void ClickableArea::setShowLink(bool show)
{
    showLink_ = show;
    setAttribute(Qt::WA_TransparentForMouseEvents, !show);
    if (show)
        setCursor(Qt::PointingHandCursor);
    else
        unsetCursor();
}

void ClickableArea::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    // A copy: the owner may rebuild its views, this one included, from inside the callback.
    if (showLink_) {
        if (auto callback = onClick)
            callback();
    }
}

void ClickableArea::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
}
