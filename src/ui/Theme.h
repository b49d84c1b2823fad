#pragma once
// The palette every window draws with.

#include <QColor>

namespace Theme {

// Panel background; the text on an active (red) button.
inline QColor veskBlack() { return QColor::fromRgbF(0.04f, 0.04f, 0.04f); }
// Resting background of buttons and raised surfaces.
inline QColor veskPanel() { return QColor::fromRgbF(0.12f, 0.12f, 0.12f); }
// The single accent: active state, switches and sliders that are on, warnings.
inline QColor veskRed() { return QColor::fromRgbF(1.0f, 0.1f, 0.1f); }
// Primary text.
inline QColor veskWhite() { return QColor::fromRgbF(0.96f, 0.96f, 0.96f); }
// Secondary text; the fallback colour of tip text.
inline QColor veskGray() { return QColor::fromRgbF(0.45f, 0.45f, 0.45f); }

}  // namespace Theme
