#include "ui/RoundedImageView.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

RoundedImageView::RoundedImageView(QWidget* parent)
    : QWidget(parent)
{
}

void RoundedImageView::setImage(const QPixmap& image)
{
    image_ = image;
    update();
}

void RoundedImageView::setCornerRadius(qreal radius)
{
    cornerRadius_ = radius;
    update();
}

QRectF RoundedImageView::fittedRect(QSizeF image, QSizeF bounds)
{
    if (image.isEmpty() || bounds.isEmpty())
        return {};
    const qreal scale = std::min(bounds.width() / image.width(), bounds.height() / image.height());
    const QSizeF size = image * scale;
    return {(bounds.width() - size.width()) / 2, (bounds.height() - size.height()) / 2, size.width(), size.height()};
}

void RoundedImageView::paintEvent(QPaintEvent*)
{
    if (image_.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(rect()), cornerRadius_, cornerRadius_);
    painter.setClipPath(clip);
    painter.drawPixmap(fittedRect(image_.deviceIndependentSize(), size()), image_, QRectF(image_.rect()));
}
