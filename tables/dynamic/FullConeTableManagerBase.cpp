#include "tables/dynamic/FullConeTableManagerBase.h"

#include "chip/P4Tables.h"
#include "common/VyrNatLogMessages.h"
#include "host/Assert.h"
#include "tables/dynamic/VyrNatTableMgrDynamic.h"

namespace VyrNat {

namespace {

// Two prefixes overlap when their addresses agree under the shorter mask.
bool overlaps(const IpAddrWithFullMask& a, const IpAddrWithFullMask& b) {
    const uint32_t shorter = a.mask & b.mask;
    return (a.addr.value & shorter) == (b.addr.value & shorter);
}

} // namespace

template <class C, class F>
uint16_t
VyrFullConeTableManagerBase<C, F>::createDynamicFullConeCompressEntry(IpAddrWithFullMask addr) {
    addr = normalized(addr);
    VTRACE(dynamicTrace, 5,
           "createDynamicFullConeCompressEntry"
               << ", addr: " << addr.toString());
    if (auto it = dynamicFullConeCompress_.find(addr); it != dynamicFullConeCompress_.end()) {
        CompressEntry& entry = it->second;
        entry.refCountInc();
        VTRACE(dynamicTrace, 5, "Found existing full cone entry, rangeId: " << entry.rangeId);
        VTRACE(dynamicTrace, 5,
               "RangeId: " << entry.rangeId << ", new refCount: " << entry.refCount);
        return entry.rangeId;
    }
    for (const auto& [prefix, entry] : dynamicFullConeCompress_) {
        if (prefix.mask != addr.mask && overlaps(prefix, addr)) {
            Log::raise(natFullConeRangeOverlap(), prefix.toString(), addr.toString());
            refusal_ = "full cone pool range " + addr.toString() + " overlaps " + prefix.toString();
            return 0;
        }
    }
    const auto rangeId = uint16_t(rangeIdMap_.allocate());
    if (rangeId == 0) {
        VTRACE(dynamicTrace, 1, "No rangeId left for " << addr.toString());
        refusal_ = std::string("no range id left for ") + getCompressTableName();
        return 0;
    }
    VTRACE(dynamicTrace, 5, "Reserved rangeId " << rangeId << ", create a new entry");
    const std::optional<C> spec = programCompressTable(addr, rangeId);
    if (!spec) {
        // Kept, the id would be lost for good.
        rangeIdMap_.clear(rangeId);
        return 0;
    }
    dynamicFullConeCompress_.emplace(addr, CompressEntry{addr, rangeId, 1, *spec});
    return rangeId;
}

template <class C, class F>
void VyrFullConeTableManagerBase<C, F>::deleteDynamicFullConeCompressEntry(
    IpAddrWithFullMask addr) {
    addr = normalized(addr);
    VTRACE(dynamicTrace, 5,
           "deleteDynamicFullConeCompressEntry"
               << ", addr: " << addr.toString());
    auto it = dynamicFullConeCompress_.find(addr);
    VYR_CHECK(it != dynamicFullConeCompress_.end(), "dynamicFullConeCompress(addr)");
    CompressEntry& entry = it->second;
    entry.refCountDec();
    if (entry.refCount > 0) {
        return;
    }
    deleteCompressTable(entry.matchSpec);
    rangeIdMap_.clear(entry.rangeId);
    dynamicFullConeCompress_.erase(it);
}

template <class C, class F>
auto VyrFullConeTableManagerBase<C, F>::dynamicFullConeCompress(IpAddrWithFullMask addr) const
    -> const CompressEntry* {
    auto it = dynamicFullConeCompress_.find(normalized(addr));
    return it == dynamicFullConeCompress_.end() ? nullptr : &it->second;
}

template class VyrFullConeTableManagerBase<VyrP4::DynamicFullConeDipMatchSpec,
                                           VyrP4::DynamicFullConeMatchSpec>;
template class VyrFullConeTableManagerBase<VyrP4::DynamicFullConeCompressDipMatchSpec,
                                           VyrP4::DynamicFullConeDnatMatchSpec>;

} // namespace VyrNat
