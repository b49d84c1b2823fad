#pragma once
// The panels' horizontal slider: a thin track filled red up to a round white knob. It holds
// fractional values (a preset's warmth is not a whole number) and reports only what the
// user does: setting the value from code is silent.

#include <QSlider>

#include <functional>

class VeskSlider : public QSlider {
    Q_OBJECT

public:
    // Steps per unit of value, so 40.909 is kept as 40.91 rather than rounded to 41.
    static constexpr int stepsPerUnit = 100;

    explicit VeskSlider(QWidget* parent = nullptr);

    double doubleValue() const { return value() / double(stepsPerUnit); }
    void setDoubleValue(double value);
    double doubleMinimum() const { return minimum() / double(stepsPerUnit); }
    double doubleMaximum() const { return maximum() / double(stepsPerUnit); }
    void setDoubleRange(double minimum, double maximum);

    // Called for every change the user makes: while dragging, on a click on the track, on
    // a key press.
    std::function<void()> onChange;

    // The colour of the unfilled part of the track.
    static QColor emptyTrack() { return QColor::fromRgbF(0.25f, 0.25f, 0.25f); }
};
