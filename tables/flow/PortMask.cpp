#include "tables/flow/PortMask.h"

#include "host/Format.h"

#include <algorithm>
#include <bit>

namespace VyrNat {

std::string PortMask::str() const {
    return Host::format("Value('VyrNat::PortMask', ** {'port': %u, 'mask': %u})", port, mask);
}

void PortMaskSet::portMaskIs(PortMask pm) {
    // Ranges come in ascending order: appending is the usual case.
    if (portMask_.empty() || portMask_.back() < pm) {
        portMask_.push_back(pm);
        return;
    }
    auto at = std::lower_bound(portMask_.begin(), portMask_.end(), pm);
    if (*at != pm) {
        portMask_.insert(at, pm);
    }
}

void PortMaskSet::portMaskDel(PortMask pm) {
    auto at = std::lower_bound(portMask_.begin(), portMask_.end(), pm);
    if (at != portMask_.end() && *at == pm) {
        portMask_.erase(at);
    }
}

PortMaskSet portMaskSetFactory() {
    return PortMaskSet();
}

PortMaskSet portRangeToMasks(uint16_t start, uint16_t end) {
    PortMaskSet set = portMaskSetFactory();
    // 32 bits, so that the block ending at 65535 steps past it instead of wrapping.
    for (uint32_t s = start; s <= end;) {
        // The largest block aligned at s that ends by `end`.
        const int aligned = s == 0 ? 16 : std::countr_zero(s);
        const int fits = std::bit_width(uint32_t(end) - s + 1) - 1;
        const uint32_t size = uint32_t(1) << std::min(aligned, fits);
        const uint16_t mask = uint16_t(~(size - 1));
        set.portMaskIs({uint16_t(s), s == 0 && size == 1 ? uint16_t(0) : mask});
        s += size;
    }
    return set;
}

} // namespace VyrNat
