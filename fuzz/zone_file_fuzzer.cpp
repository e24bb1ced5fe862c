// Zone files as any bytes: the reader must take every input without reading
// out of bounds, and a zone it accepts answers every conversion with offsets
// within its bounds.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/relay_zone.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorlan::RelayZone zone;
    std::string why;
    if (!vorlan::RelayZone::FromZoneFile(data, size, zone, why)) return 0;
    for (int64_t at : {INT64_C(-5000000000), INT64_C(0), INT64_C(1080437400), INT64_C(2145916800),
                       INT64_C(7258118400), INT64_C(900000000000)}) {
        const int32_t offset = zone.OffsetAt(at);
        if (offset < -vorlan::RelayZone::kMaxOffset || offset > vorlan::RelayZone::kMaxOffset) std::abort();
        const int64_t back = zone.UtcSeconds(zone.ZoneSeconds(at));
        if (back < at - 2 * vorlan::RelayZone::kMaxOffset || back > at + 2 * vorlan::RelayZone::kMaxOffset) std::abort();
        zone.FieldsAt(static_cast<uint64_t>(at > 0 ? at : 0) * 10'000'000u);
    }
    return 0;
}
