#pragma once
// 16-bit gamma ramps of any size, and the conversions from the engine's 256-entry tables.

#include "platform/DisplayServices.h"

#include <cstdint>
#include <vector>

struct GammaRamp {
    std::vector<std::uint16_t> red;
    std::vector<std::uint16_t> green;
    std::vector<std::uint16_t> blue;

    int size() const { return static_cast<int>(red.size()); }
    bool isAllZero() const;
    bool operator==(const GammaRamp&) const = default;

    static GammaRamp identity(int size);
    // The table's line sampled at `size` points: interpolated in float, rounded once.
    static GammaRamp fromTables(const TransferTables& tables, int size);
};
