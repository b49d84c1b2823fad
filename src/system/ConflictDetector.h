#pragma once
// Recognises other colour-filter and dimming programs that fight this one over the display,
// so the panel can ask the user to quit them. It only reports.

#include "platform/RunningApplications.h"

#include <QString>

#include <optional>
#include <vector>

namespace ConflictDetector {

// Where the running applications come from; none means nothing is found.
void setRunningApplications(RunningApplications* source);

// The shown name of the first conflicting application, in the system's order.
std::optional<QString> conflicting();

// The same rules over a given list.
std::optional<QString> conflicting(const std::vector<RunningApplication>& applications);

}  // namespace ConflictDetector
