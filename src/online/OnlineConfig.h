#pragma once
// Build-time addresses and key of the online services (CMake cache options).

#include <QString>

namespace OnlineConfig {

// Base address of the tips and update server, without a trailing "/".
QString serverURL();
// The update-signing Ed25519 public key in standard Base64, or "UPDATE_PUBLIC_KEY" when unset.
QString updatePublicKey();

}  // namespace OnlineConfig
