#include "ui/ThemeSwitch.h"

#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr double shadowOffset = 1.5;  // downwards
constexpr double shadowBlur = 4.0;    // the blur radius; a Gaussian of half that deviation
constexpr double shadowAlpha = 0.35;

double monotonicSeconds()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

// The layout gives positions with y growing upwards from the bottom edge; widgets count
// from the top.
struct Frame {
    double w;
    double h;
    QPointF at(double x, double yUp) const { return {x, h - yUp}; }
    QRectF circle(double cx, double cyUp, double r) const { return {cx - r, h - cyUp - r, 2 * r, 2 * r}; }
    // A square or rectangle given by its bottom-left corner.
    QRectF box(double x, double yUp, double width, double height) const { return {x, h - yUp - height, width, height}; }
};

void fillCircle(QPainter& painter, const QRectF& square, const QColor& color)
{
    QPainterPath path;
    path.addEllipse(square);
    painter.fillPath(path, color);
}

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(static_cast<float>(std::clamp(alpha, 0.0, 1.0)));
    return color;
}

// Blurs the alpha channel of a black, premultiplied image in place (separable Gaussian).
void blurAlpha(QImage& image, double sigma)
{
    const int radius = static_cast<int>(std::ceil(sigma * 3.0));
    std::vector<double> kernel(2 * radius + 1);
    double sum = 0.0;
    for (int i = -radius; i <= radius; ++i) {
        kernel[i + radius] = std::exp(-(i * i) / (2.0 * sigma * sigma));
        sum += kernel[i + radius];
    }
    for (double& k : kernel)
        k /= sum;

    const int w = image.width();
    const int h = image.height();
    std::vector<double> alpha(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < w; ++x)
            alpha[static_cast<std::size_t>(y) * w + x] = qAlpha(line[x]);
    }
    std::vector<double> pass(alpha.size());
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            double acc = 0.0;
            for (int k = -radius; k <= radius; ++k) {
                const int sx = x + k;
                if (sx >= 0 && sx < w)
                    acc += alpha[static_cast<std::size_t>(y) * w + sx] * kernel[k + radius];
            }
            pass[static_cast<std::size_t>(y) * w + x] = acc;
        }
    }
    for (int y = 0; y < h; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            double acc = 0.0;
            for (int k = -radius; k <= radius; ++k) {
                const int sy = y + k;
                if (sy >= 0 && sy < h)
                    acc += pass[static_cast<std::size_t>(sy) * w + x] * kernel[k + radius];
            }
            line[x] = qRgba(0, 0, 0, std::clamp(static_cast<int>(std::lround(acc)), 0, 255));
        }
    }
}

}  // namespace

ThemeSwitch::ThemeSwitch(QWidget* parent)
    : QWidget(parent)
    , clock_(monotonicSeconds)
{
    setCursor(Qt::PointingHandCursor);
}

QColor ThemeSwitch::lerp(const QColor& a, const QColor& b, double t)
{
    const QColor ca = a.toRgb();
    const QColor cb = b.toRgb();
    auto mix = [t](float x, float y) { return static_cast<float>(x + (y - x) * t); };
    return QColor::fromRgbF(mix(ca.redF(), cb.redF()), mix(ca.greenF(), cb.greenF()), mix(ca.blueF(), cb.blueF()), 1.0f);
}

void ThemeSwitch::sync(bool on)
{
    if (on_ == on)
        return;
    on_ = on;
    // A click's animation still running would carry the picture back to the old state.
    stopAnimation();
    progress_ = on ? 1.0 : 0.0;
    update();
}

void ThemeSwitch::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    on_ = !on_;
    animate();
    // A copy: the owner may rebuild its views, this one included, from inside the callback.
    if (auto callback = onToggle)
        callback();
}

void ThemeSwitch::animate()
{
    stopAnimation();
    from_ = progress_;
    to_ = on_ ? 1.0 : 0.0;
    start_ = clock_();
    timer_ = new QTimer(this);  // dies with the switch
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(frameIntervalMs);
    connect(timer_, &QTimer::timeout, this, &ThemeSwitch::tick);
    timer_->start();
}

void ThemeSwitch::tick()
{
    const double t = std::min((clock_() - start_) / animationDuration, 1.0);
    const double e = t * t * (3.0 - 2.0 * t);
    progress_ = from_ + (to_ - from_) * e;
    update();
    if (t >= 1.0)
        stopAnimation();
}

void ThemeSwitch::stopAnimation()
{
    if (!timer_)
        return;
    timer_->stop();
    timer_->deleteLater();
    timer_ = nullptr;
}

void ThemeSwitch::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintContent(painter, size(), progress_);
}

const QImage& ThemeSwitch::knobShadow(double diameter, double dpr)
{
    if (diameter == shadowDiameter_ && dpr == shadowDpr_)
        return shadow_;
    shadowDiameter_ = diameter;
    shadowDpr_ = dpr;
    const double sigma = shadowBlur / 2.0;
    const int pad = static_cast<int>(std::ceil(sigma * 3.0)) + 1;
    const int side = static_cast<int>(std::ceil(diameter)) + 2 * pad;
    shadow_ = QImage(QSize(side, side) * dpr, QImage::Format_ARGB32_Premultiplied);
    shadow_.setDevicePixelRatio(dpr);
    shadow_.fill(Qt::transparent);
    {
        QPainter p(&shadow_);
        p.setRenderHint(QPainter::Antialiasing);
        fillCircle(p, QRectF(pad, pad, diameter, diameter), withAlpha(Qt::black, shadowAlpha));
    }
    blurAlpha(shadow_, sigma * dpr);
    return shadow_;
}

void ThemeSwitch::paintContent(QPainter& painter, const QSizeF& size, double p)
{
    if (!painter.isActive())
        return;
    const double w = size.width();
    const double h = size.height();
    if (w <= 0 || h <= 0)
        return;
    const Frame f{w, h};
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);

    // Sky.
    QPainterPath track;
    track.addRoundedRect(QRectF(0, 0, w, h), h * 0.5, h * 0.5);
    painter.fillPath(track, lerp(dayBG, nightBG, p));
    painter.save();
    painter.setClipPath(track, Qt::IntersectClip);

    if (p > 0.01) {
        const QColor star = withAlpha(Qt::white, p);
        // Star sizes are absolute, not proportions.
        fillCircle(painter, f.box(0.15 * w, 0.62 * h, 3.4, 3.4), star);
        fillCircle(painter, f.box(0.25 * w, 0.34 * h, 2.4, 2.4), star);
        fillCircle(painter, f.box(0.12 * w, 0.32 * h, 2.0, 2.0), star);
        fillCircle(painter, f.box(0.33 * w, 0.64 * h, 2.0, 2.0), star);
    }

    if (p < 0.99) {
        const double a = 1.0 - p;
        const QColor back = withAlpha(backCloud, a);
        fillCircle(painter, f.circle(0.61 * w, 0.40 * h, 0.22 * h), back);
        fillCircle(painter, f.circle(0.80 * w, 0.34 * h, 0.17 * h), back);
        fillCircle(painter, f.circle(0.70 * w, 0.46 * h, 0.14 * h), back);
        fillCircle(painter, f.circle(0.50 * w, 0.34 * h, 0.14 * h), back);

        const QColor front = withAlpha(cloud, a);
        QPainterPath base;
        base.addRect(f.box(0.42 * w, 0.0, 0.5 * w, 0.2 * h));
        painter.fillPath(base, front);
        fillCircle(painter, f.circle(0.50 * w, 0.18 * h, 0.17 * h), front);
        fillCircle(painter, f.circle(0.62 * w, 0.28 * h, 0.24 * h), front);
        fillCircle(painter, f.circle(0.75 * w, 0.20 * h, 0.20 * h), front);
        fillCircle(painter, f.circle(0.86 * w, 0.14 * h, 0.15 * h), front);
        fillCircle(painter, f.circle(0.44 * w, 0.13 * h, 0.13 * h), front);
    }
    painter.restore();

    // Knob: touches the left end at p = 0, the right end at p = 1.
    const double d = 0.82 * h;
    const double m = (h - d) / 2.0;
    const double x = m + (w - d - 2.0 * m) * p;
    const QRectF knob = f.box(x, m, d, d);
    const QPointF c = knob.center();
    QPainterPath knobPath;
    knobPath.addEllipse(knob);

    // Halo.
    painter.save();
    painter.setClipPath(track, Qt::IntersectClip);
    painter.setPen(QPen(withAlpha(Qt::white, 0.05), 0.22 * d));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(c, 0.7 * d, 0.7 * d);
    painter.drawEllipse(c, 0.925 * d, 0.925 * d);
    painter.restore();

    // Body with its shadow, which falls downwards.
    const double dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QImage& shadow = knobShadow(d, dpr);
    const double pad = (shadow.width() / dpr - std::ceil(d)) / 2.0;
    painter.drawImage(QPointF(knob.left() - pad, knob.top() - pad + shadowOffset), shadow);
    painter.fillPath(knobPath, lerp(sun, moon, p));

    // Sun shading; the highlight sits up and to the left.
    if (p < 0.99) {
        painter.save();
        const QPointF hiCentre(c.x() - 0.16 * d, c.y() - 0.16 * d);
        const double hiRadius = 0.04 * d;
        // Only the gradient's far end extends; inside its start circle the body shows.
        QPainterPath startDisc;
        startDisc.addEllipse(hiCentre, hiRadius, hiRadius);
        painter.setClipPath(knobPath.subtracted(startDisc), Qt::IntersectClip);
        painter.setOpacity(1.0 - p);
        QRadialGradient gradient(c, 0.62 * d, hiCentre, hiRadius);
        gradient.setSpread(QGradient::PadSpread);
        gradient.setColorAt(0.0, sunHi);
        gradient.setColorAt(0.55, sun);
        gradient.setColorAt(1.0, sunLo);
        painter.fillPath(knobPath, gradient);
        painter.restore();
    }

    // Craters fade in during the second half.
    if (p > 0.5) {
        const QColor crater = withAlpha(spot, 2.0 * (p - 0.5));
        fillCircle(painter, f.circle(x + 0.58 * d, m + 0.62 * d, 0.17 * d), crater);
        fillCircle(painter, f.circle(x + 0.32 * d, m + 0.40 * d, 0.12 * d), crater);
        fillCircle(painter, f.circle(x + 0.66 * d, m + 0.30 * d, 0.09 * d), crater);
    }
    painter.restore();
}
