#pragma once
// Reading back what a widget drew.
#include <gtest/gtest.h>

#include <QImage>
#include <QWidget>

inline QImage snapshot(QWidget& widget) { return widget.grab().toImage().convertToFormat(QImage::Format_ARGB32); }
inline QColor at(const QImage& image, int x, int y) { return QColor::fromRgba(image.pixel(x, y)); }

// Red, green and blue each within `tolerance`.
inline ::testing::AssertionResult colorNear(const QColor& actual, const QColor& expected, int tolerance = 2)
{
    const bool near = std::abs(actual.red() - expected.red()) <= tolerance && std::abs(actual.green() - expected.green()) <= tolerance
        && std::abs(actual.blue() - expected.blue()) <= tolerance;
    return near ? ::testing::AssertionSuccess()
                : ::testing::AssertionFailure() << actual.name().toStdString() << " is not " << expected.name().toStdString();
}

// `top` composited over `base` at the given opacity.
inline QColor over(const QColor& base, const QColor& top, double alpha)
{
    auto mix = [alpha](int b, int t) { return static_cast<int>(b + (t - b) * alpha + 0.5); };
    return QColor(mix(base.red(), top.red()), mix(base.green(), top.green()), mix(base.blue(), top.blue()));
}

inline int countPixels(const QImage& image, const std::function<bool(const QColor&)>& predicate)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += predicate(at(image, x, y)) ? 1 : 0;
    return n;
}
