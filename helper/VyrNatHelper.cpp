#include "helper/VyrNatHelper.h"

#include "common/TableWrite.h"
#include "host/Ringlog.h"
#include "host/Trace.h"
#include "tables/VyrNatTableMgr.h"
#include "tables/egress/VyrNatTableMgrEgressStatic.h"
#include "tables/static/VyrNatTableMgrStatic.h"
#include "tables/vrf/VyrNatTableMgrVrf.h"

#include <algorithm>
#include <vector>

namespace VyrNat {

namespace {

Trace::Handle th("VyrNatHelper");

// The next hop a destination translation gets when it has none of its own.
constexpr uint32_t kDefaultNextHopId = 3;

constexpr const char* kNoEgressTables = "no egress NAT tables on this chip";
constexpr const char* kNoStaticTables = "no static NAT tables on this chip";

HwStaticNatAclKey aclKeyOf(const Ip::IpAddrWithFullMask& filter, uint8_t protocol) {
    return {filter, protocol, false};
}

} // namespace

bool NatHelper::refused(std::string why) {
    VTRACE(th, 1, "not programmed: " << why);
    refusal_ = std::move(why);
    return false;
}

bool NatHelper::profileFits(uint16_t profileId) {
    if (profileId >= natProfiles_) {
        return refused("NAT profile " + std::to_string(profileId) + " beyond the chip's " +
                       std::to_string(natProfiles_));
    }
    return true;
}

bool NatHelper::staticChecks(Ip::IpAndPort oldAddr, Ip::IpAndPort newAddr, uint16_t profileId) {
    if (!profileFits(profileId)) {
        return false;
    }
    // An address-only entry cannot give the translated side a port: the status would say one.
    if (oldAddr.port == 0 && newAddr.port != 0) {
        return refused("translation of an address without a port to a port");
    }
    return true;
}

template <class Call> bool NatHelper::vrfWrite(const char* op, NatTableManager& mgr, Call&& call) {
    bool ok = false;
    // The VRF manager leaves the table service's refusals to its caller: here they become a
    // translation that is not programmed, with nothing recorded.
    if (WriteRefusal refusedWrite = tableWriteRefused([&] { ok = managed(mgr, call); })) {
        VTRACE(th, 1, op << ": " << refusedWrite.text());
        RINGLOG(1, "%s: ERROR %s", op, refusedWrite.name());
        refusal_ = refusedWrite.reason();
        return false;
    }
    return ok;
}

NatHelper::NatHelper(Ert::Ptr<Ip::Nat::Status> natStatus, Ert::Ptr<Ip::Status> ipStatus,
                     VyrNatTableMgr* tableMgr)
    : OmaHelperNat("VyrNatHelper"), BuiltFrom({natStatus, ipStatus, tableMgr}),
      natStatus_(std::move(natStatus)), ipStatus_(std::move(ipStatus)), tableMgr_(tableMgr) {
    VYR_ASSERT(tableMgr_);
    handleInitialized();
}

NatHelper::~NatHelper() = default;

void NatHelper::handleInitialized() {
    natProfiles_ = tableMgr_->profileCapabilities().natProfileTableSize();
    auto scheduler = Tasking::EventLoop::current().scheduler("root");
    natHelperSm_ = std::make_unique<NatHelperSm>(this, ipStatus_, natStatus_, scheduler);
    initialized_ = true;
}

bool NatHelper::egrMcNat() const {
    return tableMgr_->egrMcNat();
}

VyrNatTableMgrStatic* NatHelper::staticMgr() const {
    auto* st = tableMgr_->tableMgrStatic();
    if (!st) {
        // A chip for NAT between VRFs only has no interface translation tables.
        VTRACE(th, 1, "no static NAT tables on this chip: translation not programmed");
    }
    return st;
}

uint32_t NatHelper::getNextHopId(const Oma::NatNextHopInfo* info, bool& ecmp) const {
    ecmp = false;
    const auto* platform = dynamic_cast<const NatNextHopInfo*>(info);
    if (!platform) {
        return kDefaultNextHopId;
    }
    uint32_t id = platform->nextHop & ~kNextHopEcmpBit;
    ecmp = (platform->nextHop & kNextHopEcmpBit) != 0;
    VTRACE(th, 5, "Next hop id found: " << id << ", ecmp: " << ecmp);
    if (id == 0) {
        VTRACE(th, 1, "Missing or null next hop id");
        id = kDefaultNextHopId;
        ecmp = false;
    }
    RINGLOG(5, "NextHop: %u", id);
    return id;
}

bool NatHelper::addStaticSrcIpTranslation(Ip::IpAndPort oldSrc, Ip::IpAndPort newSrc,
                                          Ip::IpAddrWithFullMask dst, uint8_t protocol,
                                          uint16_t profileId, const Ip::Nat::StaticKey& key,
                                          bool egressPipe, Ip::VrfId vrfId) {
    VTRACE(th, 2,
           " old src: " << oldSrc.toString() << " new src: " << newSrc.toString()
                        << " dst: " << dst.toString() << " protocol: " << unsigned(protocol)
                        << " profileId: " << profileId << " key: " << key.str()
                        << ", egressPipe: " << egressPipe << ", vrfId: " << vrfId);
    RINGLOG(2,
            "addStaticSrcIpTranslation old src: %s new src: %s dst: %s protocol: %u profileId: "
            "%u key: %s, egressPipe: %u, vrfId: %u",
            oldSrc.toString(), newSrc.toString(), dst.toString(), protocol, profileId, key.str(),
            egressPipe, vrfId);
    if (key.egressTarget()) {
        if (!egrMcNat()) {
            return refused(kNoEgressTables);
        }
        if (!staticChecks(oldSrc, newSrc, profileId)) {
            return false;
        }
        auto& egress = *tableMgr_->tableMgrEgressStatic();
        return managed(egress, [&] {
            return egress.updateStaticSnat(profileId, oldSrc, newSrc, protocol, false);
        });
    }
    auto* st = staticMgr();
    if (!st) {
        return refused(kNoStaticTables);
    }
    if (!staticChecks(oldSrc, newSrc, profileId)) {
        return false;
    }
    return managed(*st, [&] {
        return st->updateStaticSnat(profileId, aclKeyOf(dst, protocol), oldSrc, newSrc, false,
                                    egressPipe);
    });
}

bool NatHelper::staticDst(const char* op, Ip::IpAndPort oldDst, Ip::IpAndPort newDst,
                          Ip::IpAddrWithFullMask src, uint8_t protocol, uint16_t profileId,
                          const Ip::Nat::StaticKey& key, const Oma::NatNextHopInfo* nextHopInfo,
                          bool egressPipe, Ip::VrfId vrfId, bool update) {
    VTRACE(th, 2,
           op << " old dst: " << oldDst.toString() << " new dst: " << newDst.toString()
              << " src: " << src.toString() << " protocol: " << unsigned(protocol)
              << " profileId: " << profileId << " key: " << key.str()
              << ", egressPipe: " << egressPipe << ", vrfId: " << vrfId);
    RINGLOG(2,
            "%s old dst: %s new dst: %s src: %s protocol: %u profileId: %u key: %s, egressPipe: "
            "%u, vrfId: %u",
            op, oldDst.toString(), newDst.toString(), src.toString(), protocol, profileId,
            key.str(), egressPipe, vrfId);
    bool ecmp = false;
    const uint32_t nextHop = getNextHopId(nextHopInfo, ecmp);
    if (key.egressTarget()) {
        if (!egrMcNat()) {
            return refused(kNoEgressTables);
        }
        if (!staticChecks(oldDst, newDst, profileId)) {
            return false;
        }
        auto& egress = *tableMgr_->tableMgrEgressStatic();
        return managed(egress, [&] {
            return egress.updateStaticDnat(profileId, oldDst, newDst, protocol, update);
        });
    }
    if (update && egressPipe) {
        // Egress unicast entries carry no next hop, so a next-hop update has nothing to change
        // there; passed to the ingress entries it would find none.
        VTRACE(th, 3, "egress entry kept: no next hop to update");
        return true;
    }
    auto* st = staticMgr();
    if (!st) {
        return refused(kNoStaticTables);
    }
    if (!staticChecks(oldDst, newDst, profileId)) {
        return false;
    }
    return managed(*st, [&] {
        return st->updateStaticDnat(profileId, aclKeyOf(src, protocol), oldDst, newDst, nextHop,
                                    ecmp, update, false, egressPipe);
    });
}

bool NatHelper::addStaticDstIpTranslation(Ip::IpAndPort oldDst, Ip::IpAndPort newDst,
                                          Ip::IpAddrWithFullMask src, uint8_t protocol,
                                          uint16_t profileId, const Ip::Nat::StaticKey& key,
                                          const Oma::NatNextHopInfo* nextHopInfo,
                                          const Oma::NatMulticastData*, bool egressPipe,
                                          Ip::VrfId vrfId) {
    return staticDst("addStaticDstIpTranslation", oldDst, newDst, src, protocol, profileId, key,
                     nextHopInfo, egressPipe, vrfId, false);
}

bool NatHelper::updateStaticDstIpTranslation(Ip::IpAndPort oldDst, Ip::IpAndPort newDst,
                                             Ip::IpAddrWithFullMask src, uint8_t protocol,
                                             uint16_t profileId, const Ip::Nat::StaticKey& key,
                                             const Oma::NatNextHopInfo* nextHopInfo,
                                             const Oma::NatMulticastData*, bool egressPipe,
                                             Ip::VrfId vrfId) {
    return staticDst("updateStaticDstIpTranslation", oldDst, newDst, src, protocol, profileId, key,
                     nextHopInfo, egressPipe, vrfId, true);
}

void NatHelper::deleteStaticIpTranslations(const std::string& intfId,
                                           const Ip::Nat::NatStaticConnection& conn,
                                           uint16_t profileId, const Ip::Nat::StaticKey& key,
                                           Ip::VrfId vrfId) {
    VTRACE(th, 2,
           " intf: " << intfId << " global: " << conn.global.toString() << " profileId: "
                     << profileId << " key: " << key.str() << ", vrfId: " << vrfId);
    RINGLOG(2, "deleteStaticIpTranslations intf: %s global: %s profileId: %u key: %s, vrfId: %u",
            intfId, conn.global.toString(), profileId, key.str(), vrfId);
    const bool source = conn.sourceTranslation();
    const Ip::IpAndPort local = key.local;
    const Ip::IpAndPort oldAddr = source ? local : conn.global;
    const Ip::IpAndPort newAddr = source ? conn.global : local;
    const bool reverse = source ? conn.ingress : !conn.ingress;
    auto* st = tableMgr_->tableMgrStatic();
    // The host hands the filters over in its own order; they are removed in ascending order.
    std::vector<Ip::IpAddrWithFullMask> filters = conn.filterAddrs;
    std::sort(filters.begin(), filters.end());
    for (const auto& filter : filters) {
        if (key.egressTarget()) {
            if (egrMcNat()) {
                auto* egress = tableMgr_->tableMgrEgressStatic();
                source ? egress->deleteStaticSnat(profileId, oldAddr, conn.protocol)
                       : egress->deleteStaticDnat(profileId, oldAddr, conn.protocol);
            }
        } else if (st) {
            const auto aclKey = aclKeyOf(filter, conn.protocol);
            if (source) {
                reverse ? st->deleteEgressSnatEntry(profileId, aclKey, oldAddr, newAddr)
                        : st->deleteStaticSnatEntry(profileId, aclKey, oldAddr, newAddr);
            } else {
                reverse ? st->deleteEgressDnatEntry(profileId, aclKey, oldAddr, newAddr)
                        : st->deleteStaticDnatEntry(profileId, aclKey, oldAddr, newAddr);
            }
        }
        VTRACE(th, 3,
               "deleteStaticIpTranslations"
                   << (source ? ", old src: " : ", old dst: ") << oldAddr.toString()
                   << (source ? ", new src: " : ", new dst: ") << newAddr.toString()
                   << ", profileId: " << profileId << (source ? ", dst: " : ", src: ")
                   << filter.toString() << ", proto: " << unsigned(conn.protocol));
    }
}

bool NatHelper::vrfTranslation(const char* op, Ip::IpAddr oldIp, Ip::IpAddr newIp,
                               uint32_t insideVrf, uint32_t outsideVrf, bool source, bool del) {
    VTRACE(th, 2,
           op << " old: " << oldIp.toString() << " new: " << newIp.toString()
              << " insideVrf: " << insideVrf << " outsideVrf: " << outsideVrf);
    RINGLOG(2, "%s old: %s new: %s insideVrf: %u outsideVrf: %u", op, oldIp.toString(),
            newIp.toString(), insideVrf, outsideVrf);
    VYR_ASSERT(outsideVrf == 0);
    VYR_ASSERT(insideVrf < 0xFFFF);
    auto* vrf = tableMgr_->tableMgrVrf();
    VYR_ASSERT(vrf);
    const auto vrfId = static_cast<uint16_t>(insideVrf);
    return vrfWrite(op, *vrf, [&] {
        return source ? vrf->updateVrfSnatTable(oldIp, newIp, vrfId, del)
                      : vrf->updateVrfDnatTable(oldIp, newIp, vrfId, del);
    });
}

bool NatHelper::addStaticVrfSrcIpTranslation(Ip::IpAddr oldIp, Ip::IpAddr newIp, uint32_t insideVrf,
                                             uint32_t outsideVrf) {
    return vrfTranslation("addStaticVrfSrcIpTranslation", oldIp, newIp, insideVrf, outsideVrf, true,
                          false);
}

bool NatHelper::deleteStaticVrfSrcIpTranslation(Ip::IpAddr oldIp, Ip::IpAddr newIp,
                                                uint32_t insideVrf, uint32_t outsideVrf) {
    return vrfTranslation("deleteStaticVrfSrcIpTranslation", oldIp, newIp, insideVrf, outsideVrf,
                          true, true);
}

bool NatHelper::addStaticVrfDstIpTranslation(Ip::IpAddr oldIp, Ip::IpAddr newIp, uint32_t insideVrf,
                                             uint32_t outsideVrf) {
    return vrfTranslation("addStaticVrfDstIpTranslation", oldIp, newIp, insideVrf, outsideVrf,
                          false, false);
}

bool NatHelper::deleteStaticVrfDstIpTranslation(Ip::IpAddr oldIp, Ip::IpAddr newIp,
                                                uint32_t insideVrf, uint32_t outsideVrf) {
    return vrfTranslation("deleteStaticVrfDstIpTranslation", oldIp, newIp, insideVrf, outsideVrf,
                          false, true);
}

bool NatHelper::updateVrfSourcePolicer(uint32_t insideVrfId, uint32_t rate, uint32_t burst) {
    VTRACE(th, 2, " insideVrfId: " << insideVrfId << " rate: " << rate << " burst: " << burst);
    RINGLOG(2, "updateVrfSourcePolicer insideVrfId: %u rate: %u burst: %u", insideVrfId, rate,
            burst);
    VYR_ASSERT(insideVrfId < 0xFFFF);
    auto* vrf = tableMgr_->tableMgrVrf();
    VYR_ASSERT(vrf);
    return vrfWrite("updateVrfSourcePolicer", *vrf, [&] {
        return vrf->updateSnatPolicerTable(static_cast<uint16_t>(insideVrfId), rate, burst,
                                           rate == 0 && burst == 0);
    });
}

bool NatHelper::setNatProfile(uint16_t vlan, uint16_t profile, const std::string& vrfName) {
    VTRACE(th, 2, " vlan: " << vlan << " profile: " << profile << " vrf: " << vrfName);
    RINGLOG(2, "setNatProfile vlan: %u profile: %u vrf: %s", vlan, profile, vrfName);
    if ((tableMgr_->tableMgrStatic() || egrMcNat()) && !profileFits(profile)) {
        return false;
    }
    // The first table that refuses the binding ends it: the caller clears what was written.
    bool ok = true;
    if (auto* st = tableMgr_->tableMgrStatic()) {
        ok = st->updateEgressNatProfileTable(vlan, profile);
    }
    if (ok && egrMcNat()) {
        auto* egress = tableMgr_->tableMgrEgressStatic();
        ok = egress->updateIngNatProfileTable(vlan, profile) &&
             egress->updateEgrNatProfileTable(vlan, profile);
    }
    return ok;
}

void NatHelper::clearNatProfile(uint16_t vlan) {
    VTRACE(th, 2, " vlan: " << vlan);
    RINGLOG(2, "clearNatProfile vlan: %u", vlan);
    if (auto* st = tableMgr_->tableMgrStatic()) {
        st->deleteEgressNatProfileTable(vlan);
    }
    if (egrMcNat()) {
        auto* egress = tableMgr_->tableMgrEgressStatic();
        egress->deleteIngNatProfileTable(vlan);
        egress->deleteEgrNatProfileTable(vlan);
    }
}

void NatHelper::commitHwTranslations() {
    VTRACE(th, 3, "commitHwTranslations");
}

} // namespace VyrNat
