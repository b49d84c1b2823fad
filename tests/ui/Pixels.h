#pragma once
// Reading back what a widget drew.

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QWidget>

#include <cstdlib>

inline QImage snapshot(QWidget& widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

inline QColor at(const QImage& image, int x, int y)
{
    return QColor::fromRgba(image.pixel(x, y));
}

// Each of red, green and blue within `tolerance` of the expected 0-255 value.
inline ::testing::AssertionResult colorNear(const QColor& actual, const QColor& expected, int tolerance = 2)
{
    const int dr = std::abs(actual.red() - expected.red());
    const int dg = std::abs(actual.green() - expected.green());
    const int db = std::abs(actual.blue() - expected.blue());
    if (dr <= tolerance && dg <= tolerance && db <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got rgb(" << actual.red() << ", " << actual.green() << ", " << actual.blue()
                                         << "), expected rgb(" << expected.red() << ", " << expected.green() << ", "
                                         << expected.blue() << ") within " << tolerance;
}

// `top` composited over `base` at the given opacity.
inline QColor over(const QColor& base, const QColor& top, double alpha)
{
    auto mix = [alpha](int b, int t) { return static_cast<int>(b + (t - b) * alpha + 0.5); };
    return QColor(mix(base.red(), top.red()), mix(base.green(), top.green()), mix(base.blue(), top.blue()));
}

template <typename Predicate>
int countPixels(const QImage& image, Predicate predicate)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (predicate(at(image, x, y)))
                ++n;
    return n;
}
