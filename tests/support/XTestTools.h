#pragma once
// Direct access to the test X server: read and write CRTC gamma, run xrandr/xdotool.

#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

struct CrtcRamp {
    std::vector<std::uint16_t> red, green, blue;
    bool operator==(const CrtcRamp&) const = default;
};

namespace XTestTools {

// Every active CRTC's ramp, keyed by the name of the output it drives.
std::vector<std::pair<QString, CrtcRamp>> readRamps();
CrtcRamp readRamp(const QString& output);
void writeRamp(const QString& output, const CrtcRamp& ramp);
// Runs a program to completion; returns its exit code.
int run(const QString& program, const QStringList& args);

// A second monitor on DUMMY1, right of DUMMY0.
void plugSecondMonitor();
void unplugSecondMonitor();

}  // namespace XTestTools
