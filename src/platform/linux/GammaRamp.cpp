#include "platform/linux/GammaRamp.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

std::uint16_t toWord(double v)
{
    v = std::clamp(v, 0.0, 1.0);
    return static_cast<std::uint16_t>(v * 65535.0 + 0.5);  // v >= 0: same as rounding to nearest
}

std::vector<std::uint16_t> sample(const std::array<float, TransferTables::size>& table, int size)
{
    std::vector<std::uint16_t> out(static_cast<size_t>(size));
    if (size == 1) {
        out[0] = toWord(table[0]);
        return out;
    }
    const double last = TransferTables::size - 1;
    for (int j = 0; j < size; ++j) {
        const double pos = j * last / (size - 1);
        const int i = std::min(static_cast<int>(pos), TransferTables::size - 2);
        const double frac = pos - i;
        out[static_cast<size_t>(j)] = toWord(table[i] + (static_cast<double>(table[i + 1]) - table[i]) * frac);
    }
    return out;
}

}  // namespace

bool GammaRamp::isAllZero() const
{
    auto zero = [](const std::vector<std::uint16_t>& v) {
        return std::all_of(v.begin(), v.end(), [](std::uint16_t x) { return x == 0; });
    };
    return zero(red) && zero(green) && zero(blue);
}

GammaRamp GammaRamp::identity(int size)
{
    GammaRamp ramp;
    for (auto* channel : {&ramp.red, &ramp.green, &ramp.blue}) {
        channel->resize(static_cast<size_t>(size));
        for (int i = 0; i < size; ++i)
            (*channel)[static_cast<size_t>(i)] = size > 1 ? toWord(static_cast<double>(i) / (size - 1)) : 0;
    }
    return ramp;
}

GammaRamp GammaRamp::fromTables(const TransferTables& tables, int size)
{
    if (size <= 0)
        return {};
    return {sample(tables.red, size), sample(tables.green, size), sample(tables.blue, size)};
}
