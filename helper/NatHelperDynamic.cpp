// Dynamic connections: each direction goes to the dynamic manager, and a connection with ports
// also gets an address-only fragment entry in the static tables, since later fragments carry no
// ports to match the connection's entry.

#include "helper/VyrNatHelper.h"

#include "host/Ringlog.h"
#include "host/Trace.h"
#include "tables/VyrNatTableMgr.h"
#include "tables/dynamic/VyrNatTableMgrDynamic.h"
#include "tables/static/VyrNatTableMgrStatic.h"

namespace VyrNat {

namespace {

Trace::Handle th("VyrNatHelper");

constexpr uint32_t kFullMask = 0xFFFFFFFF;

// The fragment entry matches the peer's address, whatever the protocol's later fragments carry.
HwStaticNatAclKey fragmentKey(Ip::IpAddr peer, uint32_t mask, uint8_t protocol) {
    return {Ip::IpAddrWithFullMask{peer, mask}, protocol, true};
}

// The trace line and ring record each operation starts with.
void traceSrc(const char* op, const Ip::ConnTuple& flow, Ip::IpAndPort srcOld, Ip::IpAndPort dst,
              Ip::IpAndPort srcNew, uint16_t profile, bool fullCone, Ip::VrfId vrfId) {
    VTRACE(th, 2,
           op << " flow: " << flow.toString() << ", srcOld: " << srcOld.toString()
              << ", dst: " << dst.toString() << ", srcNew: " << srcNew.toString()
              << ", profile: " << profile << ", fullCone: " << fullCone << ", vrfId: " << vrfId);
    RINGLOG(2,
            "%s flow: %s -> %s proto %u, srcOld: %s, dst: %s, srcNew: %s, profile: %u, fullCone: "
            "%u, vrfId: %u",
            op, flow.src, flow.dst, flow.protocol, srcOld, dst, srcNew, profile, fullCone, vrfId);
}

void traceDst(const char* op, const Ip::ConnTuple& flow, Ip::IpAndPort src, Ip::IpAndPort dstOld,
              Ip::IpAndPort dstNew, uint16_t profile, bool fullCone, Ip::VrfId vrfId) {
    VTRACE(th, 2,
           op << " flow: " << flow.toString() << ", src: " << src.toString()
              << ", dstOld: " << dstOld.toString() << ", dstNew: " << dstNew.toString()
              << ", profile: " << profile << ", fullCone: " << fullCone << ", vrfId: " << vrfId);
    RINGLOG(2,
            "%s flow: %s -> %s proto %u, src: %s, dstOld: %s, dstNew: %s, profile: %u, fullCone: "
            "%u, vrfId: %u",
            op, flow.src, flow.dst, flow.protocol, src, dstOld, dstNew, profile, fullCone, vrfId);
}

} // namespace

VyrNatTableMgrDynamic* NatHelper::dynamicMgr() {
    auto* dyn = tableMgr_->tableMgrDynamic();
    if (!dyn) {
        refused("no dynamic NAT tables on this chip");
    }
    return dyn;
}

bool NatHelper::addDynamicSrcIpTranslation(const Ip::ConnTuple& flow, Ip::IpAndPort srcOld,
                                           Ip::IpAndPort dst, Ip::IpAndPort srcNew,
                                           uint16_t profileId, bool fullCone, Ip::VrfId vrfId) {
    traceSrc("addDynamicSrcIpTranslation", flow, srcOld, dst, srcNew, profileId, fullCone, vrfId);
    dynSrcAddInc();
    dynAddInc();
    auto* dyn = dynamicMgr();
    if (!dyn || !profileFits(profileId)) {
        return false;
    }
    if (dst.ip.isZero() && !fullCone) {
        return managed(*dyn, [&] {
            return dyn->createDynamicAddrOnlySnat(flow, srcOld, dst, srcNew, profileId);
        });
    }
    const bool ok = managed(*dyn, [&] {
        return dyn->createDynamicSnat(flow, srcOld, dst, srcNew, profileId, fullCone, vrfId);
    });
    if (ok) {
        if (auto* st = tableMgr_->tableMgrStatic()) {
            // The connection stands without it: a refused fragment entry only leaves the
            // connection's later fragments untranslated.
            st->updateStaticSnat(profileId, fragmentKey(dst.ip, kFullMask, flow.protocol),
                                 {srcOld.ip, 0}, srcNew, true, false);
        }
    }
    return ok;
}

bool NatHelper::deleteDynamicSrcIpTranslation(const Ip::ConnTuple& flow, Ip::IpAndPort srcOld,
                                              Ip::IpAndPort dst, Ip::IpAndPort srcNew,
                                              uint16_t profileId, bool fullCone, Ip::VrfId vrfId) {
    traceSrc("deleteDynamicSrcIpTranslation", flow, srcOld, dst, srcNew, profileId, fullCone,
             vrfId);
    dynSrcDelInc();
    dynDelInc();
    auto* dyn = tableMgr_->tableMgrDynamic();
    if (!dyn) {
        return true;
    }
    if (flow.dst.ip.isZero() && !fullCone) {
        dyn->deleteDynamicAddrOnlySnat(flow, profileId);
    } else if (dyn->deleteDynamicSnat(profileId, flow, srcOld, fullCone, vrfId)) {
        if (auto* st = tableMgr_->tableMgrStatic()) {
            st->deleteStaticSnatFragment(profileId, fragmentKey(dst.ip, kFullMask, flow.protocol),
                                         srcOld.ip, srcNew.ip);
        }
    }
    return true;
}

bool NatHelper::dynamicDst(const char* op, const Ip::ConnTuple& flow, Ip::IpAndPort src,
                           Ip::IpAndPort dstOld, Ip::IpAndPort dstNew,
                           const Oma::NatNextHopInfo* nextHopInfo, uint16_t profileId,
                           bool fullCone, Ip::VrfId vrfId, bool update) {
    traceDst(op, flow, src, dstOld, dstNew, profileId, fullCone, vrfId);
    if (update) {
        dynDstUpdInc();
    } else {
        dynDstAddInc();
    }
    auto* dyn = dynamicMgr();
    if (!dyn || !profileFits(profileId)) {
        return false;
    }
    bool ecmp = false;
    const uint32_t nextHop = getNextHopId(nextHopInfo, ecmp);
    if (src.ip.isZero() && !fullCone) {
        return managed(*dyn, [&] {
            return dyn->createDynamicAddrOnlyDnat(flow, src, dstOld, dstNew, nextHop, ecmp, update,
                                                  profileId);
        });
    }
    const bool ok = managed(*dyn, [&] {
        return dyn->createDynamicDnat(profileId, flow, src, dstOld, dstNew, nextHop, ecmp, update,
                                      fullCone, vrfId);
    });
    if (ok) {
        if (auto* st = tableMgr_->tableMgrStatic()) {
            // A full-cone connection answers every peer, and so do its fragments.
            const auto key = fullCone ? fragmentKey(Ip::IpAddr(), 0, flow.protocol)
                                      : fragmentKey(src.ip, kFullMask, flow.protocol);
            st->updateStaticDnat(profileId, key, {dstOld.ip, 0}, dstNew, nextHop, ecmp, update,
                                 true, false);
        }
    }
    return ok;
}

bool NatHelper::addDynamicDstIpTranslation(const Ip::ConnTuple& flow, Ip::IpAndPort src,
                                           Ip::IpAndPort dstOld, Ip::IpAndPort dstNew,
                                           const Oma::NatNextHopInfo* nextHopInfo,
                                           uint16_t profileId, bool fullCone, Ip::VrfId vrfId) {
    return dynamicDst("addDynamicDstIpTranslation", flow, src, dstOld, dstNew, nextHopInfo,
                      profileId, fullCone, vrfId, false);
}

bool NatHelper::updateDynamicDstIpTranslation(const Ip::ConnTuple& flow, Ip::IpAndPort src,
                                              Ip::IpAndPort dstOld, Ip::IpAndPort dstNew,
                                              const Oma::NatNextHopInfo* nextHopInfo,
                                              uint16_t profileId, bool fullCone, Ip::VrfId vrfId) {
    return dynamicDst("updateDynamicDstIpTranslation", flow, src, dstOld, dstNew, nextHopInfo,
                      profileId, fullCone, vrfId, true);
}

bool NatHelper::deleteDynamicDstIpTranslation(const Ip::ConnTuple& flow, Ip::IpAndPort src,
                                              Ip::IpAndPort dstOld, Ip::IpAndPort dstNew,
                                              uint16_t profileId, bool fullCone, Ip::VrfId vrfId) {
    traceDst("deleteDynamicDstIpTranslation", flow, src, dstOld, dstNew, profileId, fullCone,
             vrfId);
    dynDstDelInc();
    auto* dyn = tableMgr_->tableMgrDynamic();
    if (!dyn) {
        return true;
    }
    // The add chose the address-only entry by the source argument; a delete that tested only
    // the flow's destination would miss that entry and leave it translating.
    if ((flow.dst.ip.isZero() || src.ip.isZero()) && !fullCone) {
        dyn->deleteDynamicAddrOnlyDnat(flow, dstOld.ip, profileId);
    } else if (dyn->deleteDynamicDnat(profileId, flow, dstOld, fullCone, vrfId)) {
        if (auto* st = tableMgr_->tableMgrStatic()) {
            const auto key = fullCone ? fragmentKey(Ip::IpAddr(), 0, flow.protocol)
                                      : fragmentKey(src.ip, kFullMask, flow.protocol);
            st->deleteStaticDnatFragment(profileId, key, dstOld.ip, dstNew.ip);
        }
    }
    return true;
}

uint64_t NatHelper::getDynamicSrcCountersSinceLastPoll(uint16_t profileId,
                                                       const Ip::ConnTuple& flow, bool fullCone,
                                                       Ip::VrfId vrfId) {
    const auto* dyn = tableMgr_->tableMgrDynamic();
    return dyn ? dyn->getSrcCounters(profileId, flow, fullCone, vrfId) : 0;
}

uint64_t NatHelper::getDynamicDstCountersSinceLastPoll(uint16_t profileId,
                                                       const Ip::ConnTuple& flow, bool fullCone,
                                                       Ip::IpAndPort dst, Ip::VrfId vrfId) {
    const auto* dyn = tableMgr_->tableMgrDynamic();
    return dyn ? dyn->getDstCounters(profileId, flow, fullCone, dst, vrfId) : 0;
}

} // namespace VyrNat
