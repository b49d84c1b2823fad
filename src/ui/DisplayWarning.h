#pragma once
// What the user is told when the filter is on but colours could not be set somewhere: the
// panel's warning sentence, the tray icon's state and the log line all come from here.

#include <QString>

#include <optional>

class VeskEngine;

namespace DisplayWarning {

// The filter is on and at least one display shows it.
bool filterVisible(const VeskEngine& engine);
// The warning bar's sentence for a session or displays that take no tables; absent when
// there are none (displays another program holds have the conflict bar's own sentence).
std::optional<QString> text(const VeskEngine& engine);
// For the event log: "display: DP-2 held by another program", "display: none took the tables".
QString logLine(const VeskEngine& engine);

}  // namespace DisplayWarning
