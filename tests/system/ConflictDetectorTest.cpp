#include "system/ConflictDetector.h"

#include "FakeRunningApplications.h"

#include <gtest/gtest.h>

// Each rule takes what it names and nothing that merely contains it; within one application
// the earlier rule wins, among several the first in the system's order.
TEST(ConflictDetector, Rules)
{
    const auto text = [](const char* s) { return s ? std::optional<QString>(QString::fromUtf8(s)) : std::nullopt; };
    const struct { const char *name, *id, *shown; } cases[] = {{"fLuX", nullptr, "f.lux"}, {"Fluxion", nullptr, nullptr},
        {"influx", nullptr, nullptr}, {"My F.LUX helper", nullptr, "f.lux"}, {"Whatever", "org.HERF.Flux", "f.lux"},
        {nullptr, "com.herf.fluxion", "f.lux"}, {"iris-mini", nullptr, "Iris"}, {"osiris", nullptr, nullptr},
        {nullptr, "com.IRISTECH.app", "Iris"}, {"Lunar", nullptr, "Lunar"}, {"lunarclient", nullptr, nullptr},
        {nullptr, "fyi.lunar.Lunar", "Lunar"}, {"Gammy", nullptr, "Gammy"}, {nullptr, "io.github.gammy", nullptr},
        {"redshift-qt", nullptr, "Redshift"}, {nullptr, "org.redshift.Redshift", nullptr}, {nullptr, nullptr, nullptr},
        {"", "", nullptr}, {"gammastep-indicator", nullptr, "Gammastep"}, {"wlsunset", nullptr, "wlsunset"},
        {"xsct", nullptr, "xsct"}, {"sct", nullptr, "sct"}, {"sctd", nullptr, nullptr}, {"hyprsunset", nullptr, "hyprsunset"},
        {"wl-gammarelay", nullptr, "wl-gammarelay"}, {"wl-gammarelay-rs", nullptr, "wl-gammarelay-rs"}, {"clight", nullptr, "Clight"},
        {"clightd", nullptr, nullptr}, {"lunar iris", nullptr, "Iris"}, {"gammy redshift", nullptr, "Gammy"},
        {"Lunar", "com.herf.flux", "f.lux"}, {"Lunar", "iris", "Iris"}, {"gammy", "lunar", "Lunar"}};
    for (const auto& c : cases)
        EXPECT_EQ(ConflictDetector::conflicting({{text(c.name), text(c.id)}}), text(c.shown))
            << (c.name ? c.name : "-") << " / " << (c.id ? c.id : "-");
    const RunningApplication flux {QStringLiteral("Flux"), {}}, lunar {QStringLiteral("Lunar"), {}}, bash {QStringLiteral("bash"), {}};
    EXPECT_EQ(ConflictDetector::conflicting({flux, lunar}), QStringLiteral("f.lux"));
    EXPECT_EQ(ConflictDetector::conflicting({bash, lunar, flux}), QStringLiteral("Lunar"));
    FakeRunningApplications fake;  // the source is asked each time
    ConflictDetector::setRunningApplications(&fake);
    EXPECT_EQ(ConflictDetector::conflicting(), std::nullopt);
    fake.applications = {bash, lunar};
    EXPECT_EQ(ConflictDetector::conflicting(), QStringLiteral("Lunar"));
    ConflictDetector::setRunningApplications(nullptr);
    EXPECT_EQ(ConflictDetector::conflicting(), std::nullopt);
}
