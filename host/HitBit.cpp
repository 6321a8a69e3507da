#include "host/HitBit.h"

#include "host/Hubdb.h"

#include <algorithm>

namespace VyrSystem {

namespace {
// The config is registered with the agent's other entity types; these two come with it.
[[maybe_unused]] const bool registered = [] {
    Hubdb::registerEntityType<HitBitStatus>();
    Hubdb::registerEntityType<HitBitTable>();
    return true;
}();
} // namespace

void HitBitTable::hitsIs(std::uint32_t tableId, const Hits& found) {
    if (found.empty()) {
        hits.erase(tableId);
        return;
    }
    std::uint32_t slots = 0;
    for (const auto& h : found) {
        slots = std::max(slots, h.slot + 1);
    }
    HitSlots bySlot(slots, 0);
    for (const auto& h : found) {
        bySlot[h.slot] = h.version;
    }
    hits.set(tableId, std::move(bySlot));
}

bool HitBitTable::read(std::uint32_t tableId, VyrP4::VyrSdkEntryHandle handle) const {
    const HitSlots* h = hits.find(tableId);
    return h && handle.valid() && handle.slot < h->size() && (*h)[handle.slot] == handle.version;
}

} // namespace VyrSystem
