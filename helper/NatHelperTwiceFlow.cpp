// Twice-NAT translations and NAT flows: each goes to its manager; the helper evens out the
// ports of twice NAT and picks the unicast and multicast bits of a flow.

#include "helper/VyrNatHelper.h"

#include "host/Assert.h"
#include "host/Ringlog.h"
#include "host/Trace.h"
#include "tables/VyrNatTableMgr.h"
#include "tables/flow/VyrNatTableMgrNatFlow.h"
#include "tables/twice/VyrNatTableMgrTwice.h"

namespace VyrNat {

namespace {

Trace::Handle th("VyrNatHelper");

// A side translated without a port on either end is address-only on both.
void normalizePorts(Ip::IpAndPort& oldAddr, Ip::IpAndPort& newAddr) {
    if (oldAddr.port == 0 || newAddr.port == 0) {
        oldAddr.port = 0;
        newAddr.port = 0;
    }
}

bool multicast(const Ip::Prefix& p) {
    return (p.addr.value & 0xF0000000u) == 0xE0000000u;
}

void traceTwiceCounters(const char* op, uint16_t profile, uint8_t protocol, uint16_t group,
                        Ip::IpAndPort a, Ip::IpAndPort b, Ip::VrfId vrf) {
    VTRACE(th, 5,
           op << " profile " << profile << " protocol " << unsigned(protocol) << " group " << group
              << " " << a.toString() << " " << b.toString() << " vrf " << vrf);
}

struct UcMcBits {
    uint8_t uc = 0;
    uint8_t mc = 0;
    uint8_t mask = 0;
};

} // namespace

Ip::Nat::NatHwResult NatHelper::twiceNat(const char* op, Ip::IpAndPort srcOld, Ip::IpAndPort srcNew,
                                         Ip::IpAndPort dstOld, Ip::IpAndPort dstNew,
                                         uint8_t protocol, uint16_t profileId,
                                         const Oma::NatNextHopInfo* nextHopInfo, bool forward,
                                         uint16_t group, bool ingress, Ip::VrfId vrf, bool dynamic,
                                         bool update) {
    VTRACE(th, 2,
           op << " old src ip/port " << srcOld.toString() << " new src ip/port "
              << srcNew.toString() << " old dst ip/port " << dstOld.toString()
              << " new dst ip/port " << dstNew.toString() << " protocol " << unsigned(protocol)
              << " profileId " << profileId << " forward " << forward << " group " << group
              << " ingress " << ingress << " vrf " << vrf << " dynamic " << dynamic);
    RINGLOG(2,
            "%s old src ip/port %s new src ip/port %s old dst ip/port %s new dst ip/port %s "
            "protocol %u profileId %u forward %u group %u ingress %u vrf %u dynamic %u",
            op, srcOld.toString(), srcNew.toString(), dstOld.toString(), dstNew.toString(),
            protocol, profileId, forward, group, ingress, vrf, dynamic);
    auto* twice = tableMgr_->tableMgrTwice();
    if (!twice) {
        refused("no twice NAT tables on this chip");
        return NatHwResult::failure;
    }
    normalizePorts(srcOld, srcNew);
    normalizePorts(dstOld, dstNew);
    bool ecmp = false;
    const uint32_t nextHop = getNextHopId(nextHopInfo, ecmp);
    twice->refusalDel();
    const NatHwResult result = twice->updateTwiceNatTranslation(
        srcOld, srcNew, dstOld, dstNew, protocol, nextHop, ecmp, profileId, vrf, update, dynamic);
    refusal_ = result == NatHwResult::success ? std::string() : twice->refusal();
    return result;
}

Ip::Nat::NatHwResult NatHelper::addTwiceNatTranslation(Ip::IpAndPort srcOld, Ip::IpAndPort srcNew,
                                                       Ip::IpAndPort dstOld, Ip::IpAndPort dstNew,
                                                       uint8_t protocol, uint16_t profileId,
                                                       const Oma::NatNextHopInfo* nextHopInfo,
                                                       const Oma::NatMulticastData*, bool forward,
                                                       uint16_t group, bool ingress, Ip::VrfId vrf,
                                                       bool dynamic) {
    return twiceNat("addTwiceNatTranslation", srcOld, srcNew, dstOld, dstNew, protocol, profileId,
                    nextHopInfo, forward, group, ingress, vrf, dynamic, false);
}

Ip::Nat::NatHwResult
NatHelper::updateTwiceNatTranslation(Ip::IpAndPort srcOld, Ip::IpAndPort srcNew,
                                     Ip::IpAndPort dstOld, Ip::IpAndPort dstNew, uint8_t protocol,
                                     uint16_t profileId, const Oma::NatNextHopInfo* nextHopInfo,
                                     const Oma::NatMulticastData*, bool forward, uint16_t group,
                                     bool ingress, Ip::VrfId vrf, bool dynamic) {
    return twiceNat("updateTwiceNatTranslation", srcOld, srcNew, dstOld, dstNew, protocol,
                    profileId, nextHopInfo, forward, group, ingress, vrf, dynamic, true);
}

bool NatHelper::delTwiceNatTranslation(Ip::IpAndPort srcOld, Ip::IpAndPort srcNew,
                                       Ip::IpAndPort dstOld, Ip::IpAndPort dstNew, uint8_t protocol,
                                       uint16_t profileId, bool forward, uint16_t group,
                                       bool ingress, Ip::VrfId vrf, bool dynamic) {
    VTRACE(th, 2,
           " old src ip/port " << srcOld.toString() << " new src ip/port " << srcNew.toString()
                               << " old dst ip/port " << dstOld.toString() << " new dst ip/port "
                               << dstNew.toString() << " protocol " << unsigned(protocol)
                               << " profileId " << profileId << " forward " << forward << " group "
                               << group << " ingress " << ingress << " vrf " << vrf << " dynamic "
                               << dynamic);
    RINGLOG(2,
            "delTwiceNatTranslation old src ip/port %s new src ip/port %s old dst ip/port %s new "
            "dst ip/port %s protocol %u profileId %u forward %u group %u ingress %u vrf %u "
            "dynamic %u",
            srcOld.toString(), srcNew.toString(), dstOld.toString(), dstNew.toString(), protocol,
            profileId, forward, group, ingress, vrf, dynamic);
    if (auto* twice = tableMgr_->tableMgrTwice()) {
        normalizePorts(srcOld, srcNew);
        normalizePorts(dstOld, dstNew);
        twice->deleteTwiceNatTranslation(srcOld, srcNew, dstOld, dstNew, profileId, vrf);
    }
    return true;
}

bool NatHelper::dynamicTwiceActive(uint16_t profileId, uint8_t protocol, Ip::IpAndPort srcOld,
                                   Ip::IpAndPort srcNew, Ip::IpAndPort dstOld,
                                   Ip::IpAndPort dstNew) {
    (void)profileId, (void)protocol;
    auto* twice = tableMgr_->tableMgrTwice();
    if (!twice) {
        return false;
    }
    // The rewrite entry was made from the normalised ports; so is its lookup.
    normalizePorts(srcOld, srcNew);
    normalizePorts(dstOld, dstNew);
    return twice->getTwiceNatHitBit(srcOld, srcNew, dstOld, dstNew);
}

uint64_t NatHelper::getTwiceNatSrcCountersSinceLastPoll(uint16_t profile, uint8_t protocol,
                                                        uint16_t group, Ip::IpAndPort a,
                                                        Ip::IpAndPort b, Ip::VrfId vrf) const {
    traceTwiceCounters("getTwiceNatSrcCountersSinceLastPoll", profile, protocol, group, a, b, vrf);
    return 0;
}

uint64_t NatHelper::getTwiceNatDstCountersSinceLastPoll(uint16_t profile, uint8_t protocol,
                                                        uint16_t group, Ip::IpAndPort a,
                                                        Ip::IpAndPort b, Ip::VrfId vrf) const {
    traceTwiceCounters("getTwiceNatDstCountersSinceLastPoll", profile, protocol, group, a, b, vrf);
    return 0;
}

void NatHelper::updateCounterStatus(bool on) {
    VTRACE(th, 5, " on: " << on);
    RINGLOG(5, "updateCounterStatus on: %u", on);
}

bool NatHelper::addNatFlowEntry(const std::string& policy, const std::string& match,
                                uint16_t profile, const Ip::Nat::NatFlow& flow, uint32_t groupUc,
                                uint32_t groupMc) {
    VTRACE(th, 2,
           ", policy: " << policy << ", match: " << match << ", profile: " << profile
                        << ", src ip: " << flow.src.toString() << ", dst ip: "
                        << flow.dst.toString() << ", srcPortStart: " << flow.srcPortStart
                        << ", srcPortEnd: " << flow.srcPortEnd << ", dstPortStart: "
                        << flow.dstPortStart << ", dstPortEnd: " << flow.dstPortEnd
                        << ", protocol: " << unsigned(flow.protocol) << ", priority: "
                        << flow.priority << ", groupUc: " << groupUc << ", groupMc: " << groupMc);
    RINGLOG(2,
            "addNatFlowEntry, policy: %s, match: %s, profile: %u, src ip: %s, dst ip: %s, "
            "srcPortStart: %u, srcPortEnd: %u, dstPortStart: %u, dstPortEnd: %u, protocol: %u, "
            "priority: %u, groupUc: %u, groupMc: %u",
            policy, match, profile, flow.src.toString(), flow.dst.toString(), flow.srcPortStart,
            flow.srcPortEnd, flow.dstPortStart, flow.dstPortEnd, flow.protocol, flow.priority,
            groupUc, groupMc);
    auto* natFlowMgr = tableMgr_->tableMgrNatFlow();
    VYR_ASSERT(natFlowMgr);
    const HwNatFlowKey key{profile, policy, match};
    if (natFlowMgr->hwNatFlowEntry().count(key) != 0) {
        natFlowMgr->deleteNatFlowTable(key);
    }
    const bool anyDst = flow.dst.addr.isZero();
    const bool twoGroups = groupUc != groupMc;
    UcMcBits bits;
    if (!anyDst) {
        bits = multicast(flow.dst) ? UcMcBits{0, 1, 1} : UcMcBits{1, 0, 1};
    } else if (twoGroups) {
        bits = {1, 0, 1};
    }
    const auto create = [&](uint32_t group, UcMcBits b) {
        return managed(*natFlowMgr, [&] {
            return natFlowMgr->createNatFlowTable(key, group, flow.src, flow.dst, flow.srcPortStart,
                                                  flow.srcPortEnd, flow.dstPortStart,
                                                  flow.dstPortEnd, flow.protocol, flow.priority,
                                                  b.uc, b.mc, b.mask);
        });
    };
    bool ok = create(groupUc, bits);
    if (ok && twoGroups) {
        ok = create(groupMc, anyDst ? UcMcBits{0, 1, 1} : bits);
    }
    if (!ok) {
        // Half a flow would send the other half's packets nowhere: none of it stays.
        const std::string why = refusal_;
        natFlowMgr->deleteNatFlowTable(key);
        refusal_ = why;
    }
    return ok;
}

bool NatHelper::delNatFlowEntry(const std::string& policy, const std::string& match,
                                uint16_t profile, uint32_t groupUc, uint32_t groupMc) {
    VTRACE(th, 2,
           ", policy: " << policy << ", match: " << match << ", profile: " << profile
                        << ", groupUc: " << groupUc << ", groupMc: " << groupMc);
    RINGLOG(2, "delNatFlowEntry, policy: %s, match: %s, profile: %u, groupUc: %u, groupMc: %u",
            policy, match, profile, groupUc, groupMc);
    auto* natFlowMgr = tableMgr_->tableMgrNatFlow();
    VYR_ASSERT(natFlowMgr);
    return natFlowMgr->deleteNatFlowTable({profile, policy, match});
}

} // namespace VyrNat
