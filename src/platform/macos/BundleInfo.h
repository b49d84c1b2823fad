#pragma once
// Reading an application bundle's Info.plist through CoreFoundation.

#include <QString>

#include <optional>

namespace BundleInfo {

// The bundle's identifier ("org.herf.Flux"); absent when the bundle or the value is missing.
std::optional<QString> identifier(const QString& bundlePath);
// Its short version string ("1.4").
std::optional<QString> shortVersion(const QString& bundlePath);

}  // namespace BundleInfo
