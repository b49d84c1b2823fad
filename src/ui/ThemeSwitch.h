#pragma once
// The large day/night switch that turns the filter on and off: a pill of blue sky with
// clouds and a sun (off) or night sky with stars and a cratered moon (on). A click flips it
// with a 0.45 s eased cross-fade; sync() from code jumps without animating. Everything is
// drawn from proportions of the widget's size.

#include <QColor>
#include <QImage>
#include <QWidget>

#include <functional>

class QPainter;
class QTimer;

class ThemeSwitch : public QWidget {
    Q_OBJECT

public:
    static constexpr double animationDuration = 0.45;  // seconds
    static constexpr int frameIntervalMs = 17;         // 1/60 s

    explicit ThemeSwitch(QWidget* parent = nullptr);

    // Called after every click.
    std::function<void()> onToggle;

    bool isOn() const { return on_; }
    // Drawn state: 0 = day (off), 1 = night (on).
    double progress() const { return progress_; }
    bool isAnimating() const { return timer_ != nullptr; }

    // Mirrors outside state without animating and without calling onToggle.
    void sync(bool on);

    // Draws the switch at drawn state p into a painter whose origin is the top-left corner
    // of a size-sized area.
    void paintContent(QPainter& painter, const QSizeF& size, double p);

    // Per-channel blend of two colours, opaque.
    static QColor lerp(const QColor& a, const QColor& b, double t);

    // Monotonic time in seconds that the animation runs on; tests replace it.
    void setClock(std::function<double()> clock) { clock_ = std::move(clock); }

    const QColor dayBG = QColor(61, 126, 174);
    const QColor nightBG = QColor(29, 31, 44);
    const QColor sun = QColor(236, 202, 47);
    const QColor sunHi = QColor(254, 255, 239);
    const QColor sunLo = QColor(161, 135, 42);
    const QColor moon = QColor(196, 201, 209);
    const QColor spot = QColor(149, 157, 177);
    const QColor cloud = QColor(243, 253, 255);
    const QColor backCloud = QColor(170, 202, 223);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void animate();
    void tick();
    void stopAnimation();
    const QImage& knobShadow(double diameter, double dpr);

    bool on_ = false;
    double progress_ = 0.0;
    QTimer* timer_ = nullptr;
    double from_ = 0.0;
    double to_ = 0.0;
    double start_ = 0.0;
    std::function<double()> clock_;

    QImage shadow_;
    double shadowDiameter_ = -1.0;
    double shadowDpr_ = -1.0;
};
