#pragma once
// An image fitted into the view, keeping its proportions (scaled up or down, centred), with
// the view's corners rounded off.

#include <QPixmap>
#include <QWidget>

class RoundedImageView : public QWidget {
public:
    explicit RoundedImageView(QWidget* parent = nullptr);

    QPixmap image() const { return image_; }
    void setImage(const QPixmap& image);
    qreal cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(qreal radius);

    // Where the image lands inside a view of the given size.
    static QRectF fittedRect(QSizeF image, QSizeF bounds);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap image_;
    qreal cornerRadius_ = 0.0;
};
