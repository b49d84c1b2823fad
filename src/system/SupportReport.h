#pragma once
// The plain-text report a user copies for support: version, platform, displays, the main
// settings and the event log.

#include <QString>

namespace SupportReport {

QString text();

}  // namespace SupportReport
