// The IP-geolocation service's answer.
#include "schedule/Geo.h"

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (const std::optional<Geo::Location> location = Geo::decode(body)) {
        // The schedule cannot use a position that is not a number.
        if (!std::isfinite(location->latitude) || !std::isfinite(location->longitude))
            std::abort();
    }
    return 0;
}
