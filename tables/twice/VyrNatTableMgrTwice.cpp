#include "tables/twice/VyrNatTableMgrTwice.h"

#include "common/VyrNatLogMessages.h"
#include "host/Assert.h"
#include "host/Trace.h"

namespace VyrNat {

Trace::Handle twiceTrace("VyrNatTableMgrTwice");

namespace {

constexpr uint32_t kMaxField16 = 0xffff;

bool hasPorts(IpAndPort src, IpAndPort dst) {
    return src.port != 0 || dst.port != 0;
}

IpAndPort addrOf(IpAndPort a) {
    return {a.ip, 0};
}

} // namespace

VyrNatTableMgrTwice::VyrNatTableMgrTwice(VyrAgentLib::VyrTableMgr* tableMgr,
                                         Ert::Ptr<Config> vyrNatConfig,
                                         Ert::Ptr<VyrSystem::HitBitConfig> hitBitConfig,
                                         Ert::Ptr<Ert::Dir> hitBitStatusDir,
                                         Ert::Ptr<Hubdb::EntityManager> entityManager, bool natDpdk)
    : NatTableManager(tableMgr, twiceTrace), vyrNatConfig_(std::move(vyrNatConfig)),
      hitBitConfig_(std::move(hitBitConfig)), hitBitStatusDir_(std::move(hitBitStatusDir)),
      entityManager_(std::move(entityManager)), natDpdk_(natDpdk) {
    using namespace VyrP4;
    const auto& caps = tableMgr->profileCapabilities();
    auto when = [](bool listed) { return [listed] { return listed; }; };
    tables_.add("twiceNatAddrOnly", addrOnly_, twiceNatAddrOnlyTableFactory);
    tables_.add("twiceNatAddrPort", addrPort_, twiceNatAddrPortTableFactory);
    tables_.add("twiceNatAddrSrcPort", srcPort_, twiceNatAddrSrcPortTableFactory,
                when(caps.twiceNatAddrSrcPortTableSize() != 0));
    tables_.add("twiceNatAddrDstPort", dstPort_, twiceNatAddrDstPortTableFactory,
                when(caps.twiceNatAddrDstPortTableSize() != 0));
    tables_.add("twiceNatResultCheck", resultCheck_, twiceNatResultCheckTableFactory);
    tables_.add("twiceNatRewrite", rewrite_, twiceNatRewriteTableFactory);
    tables_.add("twiceNatAclId", aclId_, twiceNatAclIdTableFactory);
    tables_.add("twiceNatCpuTrapAcl", cpuTrapAcl_, twiceNatCpuTrapAclTableFactory);
    tables_.onCreated("twiceNatResultCheck",
                      [this](const TableCreation&) { initTwiceNatResultCheckTable(); });
    handleInitialized();
}

void VyrNatTableMgrTwice::handleInitialized() {
    const auto& caps = tableMgr()->profileCapabilities();
    // A size of 0 means no twice NAT on this profile: nothing further is set up.
    addrOnlySize_ = caps.twiceNatAddrOnlyTableSize();
    VTRACE(twiceTrace, 0, "Twice nat addr only table size: " << addrOnlySize_);
    if (addrOnlySize_ == 0) {
        return;
    }
    addrPortSize_ = caps.twiceNatAddrPortTableSize();
    VTRACE(twiceTrace, 0, "Twice nat addr port table size: " << addrPortSize_);
    if (addrPortSize_ == 0) {
        return;
    }
    srcPortSize_ = caps.twiceNatAddrSrcPortTableSize();
    VTRACE(twiceTrace, 0, "Twice nat addr srcPort table size: " << srcPortSize_);
    dstPortSize_ = caps.twiceNatAddrDstPortTableSize();
    VTRACE(twiceTrace, 0, "Twice nat addr dstPort table size: " << dstPortSize_);
    rewriteSize_ = caps.twiceNatRewriteTableSize();
    VTRACE(twiceTrace, 0, "Twice nat rewrite table size: " << rewriteSize_);
    if (rewriteSize_ == 0) {
        return;
    }
    trapAclSize_ = caps.twiceNatCpuTrapAclTableSize();
    VTRACE(twiceTrace, 0, "Twice nat cpu trap acl table size: " << trapAclSize_);
    if (trapAclSize_ == 0) {
        return;
    }
    keyIds_ = IdBitmap(addrOnlySize_);
    rewrites_ = RewriteTable(rewriteSize_);
    aclIds_ = IdBitmap(256);
    vrfSupported_ = caps.vrfSupported();
    VTRACE(twiceTrace, 0, "Vrf supported; " << vrfSupported_);
    // Without the host's hit-bit service translations read as idle.
    if (hitBitConfig_) {
        hitBitSmIs("VyrTwiceNatHitBitSm", hitBitConfig_,
                   VyrP4::resourceInfoFactory(tableMgr()->profileCapabilities()));
        hitBitStatusWatcherSmIs("VyrTwiceHitBitStatusWatcherSm", hitBitStatusDir_, entityManager_);
    }
}

std::vector<RecordCount> VyrNatTableMgrTwice::recordCounts() const {
    return {{" tmt->addrOnlyEntrys() ", addrOnlyEntry_.size()},
            {" tmt->addrPortEntrys() ", addrPortEntry_.size()},
            {" tmt->rewriteEntrys() ", rewrites_.records().size()},
            {" tmt->natAclIds() ", natAclId_.size(), false},
            {" tmt->cpuTrapAcls() ", cpuTrapAcls_.size(), false}};
}

// --- Result check ---

// The result-check content: entry group 1 (above) reports a port lookup's result, for each port
// protocol type, with and without ECMP, whatever the address-only entry's fragment flag; entry
// group 2 reports an address-only result, per protocol type: the native action, and a fragment
// packet's fragment action, each with and without ECMP.
void VyrNatTableMgrTwice::initTwiceNatResultCheckTable() {
    constexpr uint32_t kTypes[] = {uint32_t(ProtocolType::protocolAny),
                                   uint32_t(ProtocolType::protocolTcp),
                                   uint32_t(ProtocolType::protocolUdp)};
    for (uint32_t type : kTypes) {
        for (uint32_t ecmp : {0u, 1u}) {
            for (uint32_t fragment : {0u, 1u}) {
                VyrP4::TwiceNatResultCheckMatchSpec ms;
                ms.twiceMdAddrOnlyHitIs(1, 1);
                ms.twiceMdAddrOnlyFragmentIs(fragment, 1);
                ms.twiceMdAddrPortHitIs(1, 1);
                ms.twiceMdAddrPortEcmpIs(ecmp, 1);
                ms.twiceMdAddrPortProtocolTypeIs(type, 3);
                ms.outerIpv4HdrFragmentIs(0, 1);
                ms.twiceMdEntryGroupIs(1, 3);
                ms.priorityIs(2);
                programTwiceNatResultCheckTable(ms, false, ecmp != 0);
            }
        }
    }
    for (uint32_t type : kTypes) {
        for (uint32_t fragment : {0u, 1u}) {
            for (uint32_t ecmp : {0u, 1u}) {
                VyrP4::TwiceNatResultCheckMatchSpec ms;
                ms.twiceMdAddrOnlyHitIs(1, 1);
                ms.twiceMdAddrOnlyFragmentIs(fragment, 1);
                ms.twiceMdAddrOnlyEcmpIs(ecmp, 1);
                ms.twiceMdAddrOnlyProtocolTypeIs(type, 3);
                if (fragment) {
                    ms.outerIpv4HdrFragmentIs(1, 1);
                }
                ms.twiceMdEntryGroupIs(2, 3);
                ms.priorityIs(1);
                programTwiceNatResultCheckTable(ms, true, ecmp != 0);
            }
        }
    }
}

void VyrNatTableMgrTwice::programTwiceNatResultCheckTable(
    VyrP4::TwiceNatResultCheckMatchSpec matchSpec, bool addrOnly, bool ecmp) {
    VYR_ASSERT(resultCheckTable());
    VyrP4::TwiceNatResultCheckTable::Action action;
    if (addrOnly) {
        action = ecmp ? decltype(action)(VyrP4::TwiceNatAddrOnlyValidHitEcmpActionSpec())
                      : decltype(action)(VyrP4::TwiceNatAddrOnlyValidHitActionSpec());
    } else {
        action = ecmp ? decltype(action)(VyrP4::TwiceNatAddrPortValidHitEcmpActionSpec())
                      : decltype(action)(VyrP4::TwiceNatAddrPortValidHitActionSpec());
    }
    // The table service, not the NAT helper, is the caller: a refused fixed entry is traced.
    if (WriteRefusal refused =
            tableWriteRefused([&] { resultCheck_->entryIs(matchSpec, action); })) {
        VTRACE(twiceTrace, 0, "programTwiceNatResultCheckTable: ERROR " << refused.name());
    }
}

// --- Translations ---

NatHwResult VyrNatTableMgrTwice::updateTwiceNatTranslation(IpAndPort srcOld, IpAndPort srcNew,
                                                           IpAndPort dstOld, IpAndPort dstNew,
                                                           uint8_t proto, uint32_t nextHop,
                                                           bool ecmp, uint32_t profile, VrfId vrf,
                                                           bool update, bool dynamic) {
    VTRACE(twiceTrace, 5,
           "updateTwiceNatTranslation"
               << " old src ip/port " << srcOld.toString() << " new src ip/port "
               << srcNew.toString() << " old dst ip/port " << dstOld.toString()
               << " new dst ip/port " << dstNew.toString() << " protocol " << unsigned(proto)
               << " nextHop " << nextHop << " ecmp " << ecmp << " profileId " << profile << " vrf "
               << vrf << " update " << update << " dynamic " << dynamic);
    // The chip's next-hop and VRF fields hold 16 bits: a wider value would program another
    // next hop or VRF.
    if (nextHop > kMaxField16 || (vrfSupported_ && vrf > kMaxField16)) {
        VTRACE(twiceTrace, 1, "Next hop " << nextHop << " or vrf " << vrf << " beyond 16 bits");
        refusalIs("next hop or VRF beyond the tables' 16-bit fields");
        return NatHwResult::failure;
    }
    if (addrOnlySize_ == 0 || addrPortSize_ == 0 || rewriteSize_ == 0 || trapAclSize_ == 0) {
        VTRACE(twiceTrace, 1, "No twice NAT on this profile");
        return NatHwResult::failure;
    }
    if (!update) {
        switch (lookupEntry(srcOld, srcNew, dstOld, dstNew, proto, profile, vrf)) {
        case LookupResult::lookupMatchActionHit:
            VTRACE(twiceTrace, 1, "Duplicate entry found");
            return NatHwResult::success;
        case LookupResult::lookupMatchHit:
            VTRACE(twiceTrace, 1, "Duplicate entry found, with mismatching action");
            Log::raise(natTwiceDuplicateEntry(), srcOld.ip.toString(), srcOld.port,
                       dstOld.ip.toString(), dstOld.port, vrf);
            refusalIs("duplicate of another translation");
            return NatHwResult::duplicate;
        case LookupResult::lookupMiss:
            break;
        }
    }
    if (hasPorts(srcOld, dstOld)) {
        return addPortTranslation(srcOld, srcNew, dstOld, dstNew, proto, nextHop, ecmp, profile,
                                  vrf, update, dynamic);
    }
    if (update) {
        return createAddrOnlyEntry(srcOld, dstOld, proto, false, 0, nextHop, ecmp, profile, vrf,
                                   true)
                   ? NatHwResult::success
                   : NatHwResult::failure;
    }
    const uint16_t rewriteId = createRewriteEntry(srcOld, dstOld, srcNew, dstNew);
    if (rewriteId == 0) {
        return NatHwResult::failure;
    }
    if (createAddrOnlyEntry(srcOld, dstOld, proto, false, rewriteId, nextHop, ecmp, profile, vrf,
                            false) == 0) {
        deleteRewriteEntry(srcOld, dstOld, srcNew, dstNew);
        return NatHwResult::failure;
    }
    return NatHwResult::success;
}

NatHwResult VyrNatTableMgrTwice::addPortTranslation(IpAndPort srcOld, IpAndPort srcNew,
                                                    IpAndPort dstOld, IpAndPort dstNew,
                                                    uint8_t proto, uint32_t nextHop, bool ecmp,
                                                    uint32_t profile, VrfId vrf, bool update,
                                                    bool dynamic) {
    const AddrPortKey portsOnly{0, srcOld.port, dstOld.port};
    if ((portsOnly.dport == 0 && srcPortSize_ == 0) ||
        (portsOnly.sport == 0 && dstPortSize_ == 0)) {
        // No table on this profile matches a single port: nothing could take the translation.
        VTRACE(twiceTrace, 1, "No table for a translation with one port");
        return NatHwResult::failure;
    }
    const uint32_t reserved =
        vyrNatConfig_ ? vyrNatConfig_->twiceNatAddrOnlyNonFragmentReserve() : 0;
    const bool fragmentsAllowed =
        reserved < addrOnlySize_ && addrOnlySize_ - reserved > addrOnlyFragmentEntries_;
    if (!fragmentsAllowed) {
        VTRACE(twiceTrace, 1, "Reached max number of fragment entries in the twice Nat table");
    }
    if (update) {
        const AddrOnlyEntry* before = nullptr;
        if (auto it = addrOnlyEntry_.find(addrOnlyKey(srcOld.ip, dstOld.ip, vrf));
            it != addrOnlyEntry_.end()) {
            before = &it->second;
        }
        const AddrPortEntry* port =
            before ? portEntry({before->keyId, srcOld.port, dstOld.port}) : nullptr;
        if (!port) {
            VTRACE(twiceTrace, 1, "AddrPort entry not found");
            return NatHwResult::failure;
        }
        const AddrPortAction old = port->action;
        const uint16_t keyId =
            createAddrOnlyEntry(srcOld, dstOld, proto, true, 0, nextHop, ecmp, profile, vrf, true);
        if (keyId == 0) {
            return NatHwResult::failure;
        }
        if (createPortEntryFor({keyId, srcOld.port, dstOld.port}, 0, proto, nextHop, ecmp, profile,
                               true, dynamic)) {
            return NatHwResult::success;
        }
        // The translation stays as it was: its fragment element takes its next hop back.
        createAddrOnlyEntry(srcOld, dstOld, proto, true, 0, old.nextHop, old.ecmp, profile, vrf,
                            true);
        return NatHwResult::failure;
    }
    const uint16_t rewriteId = createRewriteEntry(srcOld, dstOld, srcNew, dstNew);
    if (rewriteId == 0) {
        return NatHwResult::failure;
    }
    const uint16_t fragmentRewriteId =
        fragmentsAllowed
            ? createRewriteEntry(addrOf(srcOld), addrOf(dstOld), addrOf(srcNew), addrOf(dstNew))
            : 0;
    auto releaseRewrites = [&] {
        if (fragmentRewriteId != 0) {
            deleteRewriteEntry(addrOf(srcOld), addrOf(dstOld), addrOf(srcNew), addrOf(dstNew));
        }
        deleteRewriteEntry(srcOld, dstOld, srcNew, dstNew);
    };
    const uint16_t keyId = createAddrOnlyEntry(srcOld, dstOld, proto, true, fragmentRewriteId,
                                               nextHop, ecmp, profile, vrf, false);
    if (keyId == 0) {
        releaseRewrites();
        return NatHwResult::failure;
    }
    if (createPortEntryFor({keyId, srcOld.port, dstOld.port}, rewriteId, proto, nextHop, ecmp,
                           profile, false, dynamic)) {
        return NatHwResult::success;
    }
    releaseRewrites();
    deleteAddrOnlyEntry(srcOld, dstOld, profile, vrf);
    return NatHwResult::failure;
}

void VyrNatTableMgrTwice::deleteTwiceNatTranslation(IpAndPort srcOld, IpAndPort srcNew,
                                                    IpAndPort dstOld, IpAndPort dstNew,
                                                    uint32_t profile, VrfId vrf) {
    VTRACE(twiceTrace, 5,
           "deleteTwiceNatTranslation"
               << " old src ip/port " << srcOld.toString() << " new src ip/port "
               << srcNew.toString() << " old dst ip/port " << dstOld.toString()
               << " new dst ip/port " << dstNew.toString() << " profileId " << profile << " vrf "
               << vrf);
    if (!hasPorts(srcOld, dstOld)) {
        if (deleteAddrOnlyEntry(srcOld, dstOld, profile, vrf) != 0) {
            deleteRewriteEntry(srcOld, dstOld, srcNew, dstNew);
        }
        return;
    }
    const uint16_t fragmentRewriteId = getFragmentRewriteId(srcOld, dstOld, vrf);
    const uint16_t keyId = deleteAddrOnlyEntry(srcOld, dstOld, profile, vrf);
    if (keyId == 0) {
        return;
    }
    if (srcOld.port != 0 && dstOld.port != 0) {
        deleteAddrPortEntry(keyId, srcOld.port, dstOld.port);
    } else if (srcOld.port != 0) {
        deleteAddrSrcPortEntry(keyId, srcOld.port);
    } else {
        deleteAddrDstPortEntry(keyId, dstOld.port);
    }
    deleteRewriteEntry(srcOld, dstOld, srcNew, dstNew);
    if (fragmentRewriteId != 0) {
        deleteRewriteEntry(addrOf(srcOld), addrOf(dstOld), addrOf(srcNew), addrOf(dstNew));
    }
}

LookupResult VyrNatTableMgrTwice::lookupEntry(IpAndPort srcOld, IpAndPort srcNew, IpAndPort dstOld,
                                              IpAndPort dstNew, uint8_t proto, uint32_t,
                                              VrfId vrf) const {
    auto ao = addrOnlyEntry_.find(addrOnlyKey(srcOld.ip, dstOld.ip, vrf));
    if (ao == addrOnlyEntry_.end()) {
        return LookupResult::lookupMiss;
    }
    ProtocolType type;
    uint16_t rewriteId;
    RewriteInfo info;
    if (hasPorts(srcOld, dstOld)) {
        const AddrPortEntry* port = portEntry({ao->second.keyId, srcOld.port, dstOld.port});
        if (!port) {
            return LookupResult::lookupMiss;
        }
        type = port->action.proto;
        rewriteId = port->action.rewriteId;
        info = rewriteInfo(srcOld, dstOld, srcNew, dstNew);
    } else {
        if (ao->second.action.proto == ProtocolType::protocolInvalid) {
            return LookupResult::lookupMiss;
        }
        type = ao->second.action.proto;
        rewriteId = ao->second.action.rewriteId;
        info = rewriteInfo(addrOf(srcOld), addrOf(dstOld), addrOf(srcNew), addrOf(dstNew));
    }
    if (type != getProtocolType(proto)) {
        return LookupResult::lookupMatchHit;
    }
    const RewriteEntry* rewrite = rewrites_.find(info);
    return rewrite && rewrite->rewriteId == rewriteId ? LookupResult::lookupMatchActionHit
                                                      : LookupResult::lookupMatchHit;
}

Ert::Ptr<VyrNatTableMgrTwice>
vyrNatTableMgrTwiceFactory(VyrAgentLib::VyrTableMgr* tableMgr, Ert::Ptr<Config> vyrNatConfig,
                           Ert::Ptr<VyrSystem::HitBitConfig> hitBitConfig,
                           Ert::Ptr<Ert::Dir> hitBitStatusDir,
                           Ert::Ptr<Hubdb::EntityManager> entityManager, bool natDpdk) {
    return Ert::make<VyrNatTableMgrTwice>(tableMgr, std::move(vyrNatConfig),
                                          std::move(hitBitConfig), std::move(hitBitStatusDir),
                                          std::move(entityManager), natDpdk);
}

} // namespace VyrNat
