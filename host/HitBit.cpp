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

bool HitBitTable::read(std::uint32_t tableId, VyrP4::VyrSdkEntryHandle handle) const {
    const Hits* h = hits.find(tableId);
    return h && std::binary_search(h->begin(), h->end(), handle);
}

} // namespace VyrSystem
