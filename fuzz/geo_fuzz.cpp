// The IP-geolocation service's answer: the schedule cannot use a position that is not a number.
#include "schedule/Geo.h"
#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto location = Geo::decode(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    if (location && !(std::isfinite(location->latitude) && std::isfinite(location->longitude)))
        std::abort();
    return 0;
}
