// A connection's activity as the hit bit of its entry, for the host's aging.

#include "host/Assert.h"
#include "tables/dynamic/VyrNatTableMgrDynamic.h"

namespace VyrNat {

template <class Table>
VyrP4::VyrSdkEntryHandle VyrNatTableMgrDynamic::handleOf(const Table* table, const ConnTuple& flow,
                                                         const MatchAddrs& addrs,
                                                         uint32_t vrfId) const {
    VYR_CHECK(table, "the table of a recorded connection exists");
    const auto handle =
        table->entryHandle(matchSpec<typename Table::MatchSpec>(flow.protocol, addrs, vrfId));
    VYR_CHECK(handle.valid(), "matchSpec has a handle");
    return handle;
}

template <class Partitioned>
std::optional<std::pair<uint8_t, VyrP4::VyrSdkEntryHandle>>
partitionHandle(const Partitioned& parts, const ConnTuple& flow, uint32_t vrfId) {
    const auto found = parts.flowToMatchSpecMap(FlowAndVrfType{flow, vrfId});
    if (!found) {
        return std::nullopt;
    }
    const auto* partition = parts.typedPartition(found->partitionId);
    VYR_CHECK(partition && partition->table(), "the partition of a recorded connection exists");
    const auto handle =
        partition->table()->entryHandle(Partitioned::matchSpec(flow.protocol, found->addrs));
    VYR_CHECK(handle.valid(), "matchSpec has a handle");
    return std::pair{found->partitionId, handle};
}

uint64_t VyrNatTableMgrDynamic::hitBitOf(const ConnTuple& flow, bool snat, uint8_t place,
                                         uint8_t partitionId,
                                         VyrP4::VyrSdkEntryHandle handle) const {
    const VyrNatHitBitSm* sm = hitBit_.sm().get();
    const bool hit = sm && (snat ? sm->getSnatHitBit(DynamicSnatTable(place), partitionId, handle)
                                 : sm->getDnatHitBit(DynamicDnatTable(place), partitionId, handle));
    VTRACE(dynamicTrace, 4, "Entry: " << flow.toString() << ", hitBit: " << hit);
    return hit ? 1 : 0;
}

uint64_t VyrNatTableMgrDynamic::getSrcCounters(uint16_t profile, const ConnTuple& flow,
                                               bool fullCone, uint32_t vrfId) const {
    ConnTuple f = flow;
    if (fullCone && snatDynFullConeSupported_) {
        f.dst = fullConePeer(profile);
    }
    using S = DynamicSnatTable;
    if (const auto found = dynamicSnatTable_.find(f, vrfId)) {
        VyrP4::VyrSdkEntryHandle h;
        switch (found->place) {
        case S::dynDnat1Snat:
            h = handleOf(dnat1_.get(), f, found->addrs, vrfId);
            break;
        case S::dynSnat1:
            h = handleOf(snat1_.get(), f, found->addrs, vrfId);
            break;
        case S::dynSnat2:
            h = handleOf(snat2_.get(), f, found->addrs, vrfId);
            break;
        default:
            VYR_FAIL("dynamicSnatTable holds an entry of no five-tuple table");
        }
        return hitBitOf(f, true, uint8_t(found->place), 0, h);
    }
    if (auto it = dynamicAddrOnlySnatKeyToMatchSpec_.find(FlowAndProfileType{flow, profile});
        it != dynamicAddrOnlySnatKeyToMatchSpec_.end()) {
        const auto h = addrOnlySnat_->entryHandle(it->second);
        VYR_CHECK(h.valid(), "matchSpec has a handle");
        return hitBitOf(flow, true, uint8_t(S::dynAddrOnlySnat), 0, h);
    }
    if (const auto p = partitionHandle(*dynamicSnatPartitionedTable_, f, vrfId)) {
        return hitBitOf(f, true, uint8_t(S::dynSnatPartition), p->first, p->second);
    }
    VTRACE(dynamicTrace, 4, "Flow not programmed in hw: " << flow.toString());
    return 0;
}

uint64_t VyrNatTableMgrDynamic::getDstCounters(uint16_t profile, const ConnTuple& flow,
                                               bool fullCone, IpAndPort dst, uint32_t vrfId) const {
    using D = DynamicDnatTable;
    if (fullCone && dynamicFullConeDnatHelper_) {
        const auto& helper = *dynamicFullConeDnatHelper_;
        const auto key = helper.dynamicFullConeDnatKey(profile, dst, flow.protocol);
        if (const auto* e = key ? helper.dynamicFullConeDnat(*key) : nullptr) {
            const auto h = fullConeDnat_->entryHandle(e->matchSpec);
            VYR_CHECK(h.valid(), "matchSpec has a handle");
            return hitBitOf(flow, false, uint8_t(D::dynFullConeDnat), 0, h);
        }
        VTRACE(dynamicTrace, 4, "Flow not programmed in hw: " << flow.toString());
        return 0;
    }
    ConnTuple f = flow;
    if (fullCone && dynFullConeSupported_) {
        f.src = fullConePeer(profile);
    }
    if (const auto found = dynamicDnatTable_.find(f, vrfId)) {
        VyrP4::VyrSdkEntryHandle h;
        switch (found->place) {
        case D::dynDnat1Dnat:
            h = handleOf(dnat1_.get(), f, found->addrs, vrfId);
            break;
        case D::dynDnat2:
            h = handleOf(dnat2_.get(), f, found->addrs, vrfId);
            break;
        default:
            VYR_FAIL("dynamicDnatTable holds an entry of no five-tuple table");
        }
        return hitBitOf(f, false, uint8_t(found->place), 0, h);
    }
    if (auto it =
            dynamicAddrOnlyDnatKeyToMatchSpecAndRefCount_.find(IpAndProfileType{dst.ip, profile});
        it != dynamicAddrOnlyDnatKeyToMatchSpecAndRefCount_.end()) {
        const auto h = addrOnlyDnat_->entryHandle(it->second.matchSpec);
        VYR_CHECK(h.valid(), "matchSpec has a handle");
        return hitBitOf(flow, false, uint8_t(D::dynAddrOnlyDnat), 0, h);
    }
    if (const auto p = partitionHandle(*dynamicDnatPartitionedTable_, f, vrfId)) {
        return hitBitOf(f, false, uint8_t(D::dynDnatPartition), p->first, p->second);
    }
    VTRACE(dynamicTrace, 4, "Flow not programmed in hw: " << flow.toString());
    return 0;
}

} // namespace VyrNat
