#include "ui/VeskSlider.h"

#include "ui/Theme.h"

#include <QSignalBlocker>

#include <cmath>

namespace {

int toSteps(double value)
{
    return static_cast<int>(std::lround(value * VeskSlider::stepsPerUnit));
}

}  // namespace

VeskSlider::VeskSlider(QWidget* parent)
    : QSlider(Qt::Horizontal, parent)
{
    setFocusPolicy(Qt::NoFocus);
    setTracking(true);
    setSingleStep(stepsPerUnit);
    setPageStep(10 * stepsPerUnit);
    // A 4-pixel track; the part left of the knob is the accent red; an 18-pixel white knob.
    setStyleSheet(QStringLiteral(
        "QSlider { background: transparent; }"
        "QSlider::groove:horizontal { height: 4px; border-radius: 2px; background: %1; }"
        "QSlider::sub-page:horizontal { height: 4px; border-radius: 2px; background: %2; }"
        "QSlider::add-page:horizontal { height: 4px; border-radius: 2px; background: %1; }"
        "QSlider::handle:horizontal { background: #ffffff; width: 18px; height: 18px;"
        " margin: -7px 0; border-radius: 9px; }")
            .arg(emptyTrack().name(), Theme::veskRed().name()));
    connect(this, &QSlider::valueChanged, this, [this] {
        if (auto callback = onChange)
            callback();
    });
}

void VeskSlider::setDoubleValue(double value)
{
    if (std::isnan(value))
        return;
    const QSignalBlocker quiet(this);
    setValue(toSteps(value));
}

void VeskSlider::setDoubleRange(double minimum, double maximum)
{
    const QSignalBlocker quiet(this);
    setRange(toSteps(minimum), toSteps(maximum));
}
