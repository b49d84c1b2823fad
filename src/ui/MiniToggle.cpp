#include "ui/MiniToggle.h"

#include "ui/Theme.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

MiniToggle::MiniToggle(QWidget* parent)
    : QWidget(parent)
{
    updateCursor();
}

void MiniToggle::setOn(bool on)
{
    on_ = on;
    update();
}

void MiniToggle::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    if (!isEnabled())
        return;
    on_ = !on_;
    update();
    // A copy: the owner may rebuild its views, this one included, from inside the callback.
    if (auto callback = onToggle)
        callback();
}

void MiniToggle::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange) {
        updateCursor();
        update();
    }
    QWidget::changeEvent(event);
}

void MiniToggle::updateCursor()
{
    if (isEnabled())
        setCursor(Qt::PointingHandCursor);
    else
        unsetCursor();
}

void MiniToggle::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal w = width();
    const qreal h = height();

    const QColor track = !isEnabled() ? disabledTrack() : (on_ ? Theme::veskRed() : offTrack());
    QPainterPath pill;
    pill.addRoundedRect(QRectF(0, 0, w, h), h * 0.5, h * 0.5);
    painter.fillPath(pill, track);

    const qreal d = h - 6.0;
    const qreal x = on_ ? w - d - 3.0 : 3.0;
    QPainterPath knob;
    knob.addEllipse(QRectF(x, 3.0, d, d));
    painter.fillPath(knob, Qt::white);
}
