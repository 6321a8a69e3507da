#pragma once
// What differs between the source (SNAT) and destination (DNAT) sides of the static manager:
// their tables, records, counters, match fields, actions and words in messages. The operations
// are written once over these traits.

#include "common/VyrNatUtils.h"
#include "host/Trace.h"
#include "tables/static/VyrNatTableMgrStatic.h"

namespace VyrNat {

extern Trace::Handle staticTrace;

// The next hop of a destination translation; source translations carry none.
struct NextHop {
    uint32_t id = 0;
    bool ecmp = false;
    // As recorded: bit 31 marks an ECMP group.
    uint32_t word() const { return ecmp ? (id | kNextHopEcmpBit) : id; }
};

// The ACL match of a key: the peer prefix, the protocol (any when 0), and fragments only
// (priority 0) or every packet (priority 1).
template <class Spec> void fillAclMatch(Spec& spec, const HwStaticNatAclKey& key) {
    spec.outerIpv4HdrProtocolIs(key.protocol, key.protocol ? 0xff : 0);
    spec.ingMdIpv4FragmentIs(key.fragment ? 1 : 0, key.fragment ? 0xff : 0);
    spec.priorityIs(key.fragment ? 0 : 1);
}

// Fragment companions may use only the entries above the reserve for other translations.
inline bool fragmentRoom(uint32_t size, uint32_t reserve, uint32_t fragments) {
    return reserve < size && fragments < size - reserve;
}

struct SnatSide {
    using M = VyrNatTableMgrStatic;
    static constexpr bool kDnat = false;
    static constexpr const char* kUpper = "Snat";
    static constexpr const char* kLower = "snat";
    static constexpr const char* kAddrWord = "sip";
    static constexpr const char* kAclTableCheck = "staticSnatAclTable()";
    static constexpr const char* kAddrOnlyTableCheck = "addrOnlySnatTable()";
    static constexpr const char* kAddrPortTableCheck = "addrPortSnatTable()";
    static constexpr const char* kEgressTableCheck = "egressSnatTable()";
    static constexpr const char* kAddrOnlyTableName = "AddrOnlySnat";
    static constexpr const char* kEgressTableName = "EgressSnat";

    using AclEntry = HwStaticSnatAclEntry;
    using AddrOnlyEntry = SnatAddrOnlyEntry;
    using AddrPortEntry = SnatAddrPortEntry;
    using UnprogFrag = SnatAddrOnlyUnprogFrag;
    using Entry = HwStaticSnatEntry;
    using Profile = HwStaticSnat;
    using EgressRecord = HwEgressStaticSnatEntry;
    using EgressEntry = EgressSnatEntry;

    static auto& aclTable(M& m) { return m.staticSnatAclTable_; }
    static auto& addrOnlyTable(M& m) { return m.addrOnlySnatTable_; }
    static auto& addrPortTable(M& m) { return m.addrPortSnatTable_; }
    static auto& egressTable(M& m) { return m.egressSnatTable_; }
    static IdBitmap& aclIds(M& m) { return m.snatAclIds_; }
    static auto& aclEntries(M& m) { return m.hwStaticSnatAclEntries_; }
    static auto& profiles(M& m) { return m.hwStaticSnatEntries_; }
    static uint32_t addrOnlyTableSize(const M& m) { return m.snatAddrOnlyTableSize_; }
    static uint32_t addrOnlyReserve(const M& m) {
        return m.vyrNatConfig_ ? m.vyrNatConfig_->addrOnlySnatNonFragmentReserve() : 0;
    }
    static uint32_t& fragmentEntries(M& m) { return m.addrOnlySnatFragmentEntries_; }
    static uint32_t& fragmentUnprogrammed(M& m) {
        return m.addrOnlySnatFragmentUnprogrammedEntries_;
    }
    static uint32_t& egressFragmentEntries(M& m) { return m.egressSnatFragmentEntries_; }
    static uint32_t& egressFragmentUnprogrammed(M& m) {
        return m.egressSnatFragmentUnprogrammedEntries_;
    }

    static auto& entries(Profile& p) { return p.staticSnatEntries; }
    static auto& egressEntries(Profile& p) { return p.egressSnatEntries; }
    static IpAddr& newAddr(AddrOnlyEntry& e) { return e.newSip; }
    static IpAndPort& newAddrPort(AddrPortEntry& e) { return e.newSrc; }
    static auto& newAddrs(UnprogFrag& f) { return f.newSip; }
    static void nextHopIs(AddrOnlyEntry&, NextHop) {}
    static void nextHopIs(AddrPortEntry&, NextHop) {}
    static void unprogNextHopIs(UnprogFrag&, IpAddr, uint32_t) {}
    static uint32_t recordedNextHop(const AddrOnlyEntry&) { return 0; }

    static VyrP4::StaticSnatAclMatchSpec aclMatch(const HwStaticNatAclKey& key) {
        VyrP4::StaticSnatAclMatchSpec spec;
        spec.outerIpv4HdrDipIs(key.ipAndMask.addr.value, key.ipAndMask.mask);
        fillAclMatch(spec, key);
        return spec;
    }
    static VyrP4::SetSnatAclIdActionSpec aclAction(uint16_t id) {
        VyrP4::SetSnatAclIdActionSpec a;
        a.snatAclIdIs(id);
        return a;
    }
    static VyrP4::AddrOnlySnatMatchSpec addrOnlyMatch(uint16_t profileId, uint16_t aclId,
                                                      IpAddr addr) {
        VyrP4::AddrOnlySnatMatchSpec spec;
        spec.ingMdNatProfileIdIs(profileId);
        spec.ingMdSnatAclIdIs(aclId);
        spec.outerIpv4HdrSipIs(addr.value);
        return spec;
    }
    static VyrP4::AddrOnlySnatTable::Action addrOnlyAction(IpAddr oldAddr, IpAddr newAddr,
                                                           NextHop) {
        VyrP4::SetTranslatedSipActionSpec a;
        a.checksumDeltaIs(calculateChecksumDeltaAddrOnly(oldAddr.value, newAddr.value));
        a.translatedSipIs(newAddr.value);
        return a;
    }
    static VyrP4::AddrPortSnatMatchSpec addrPortMatch(uint16_t profileId, uint16_t aclId,
                                                      IpAndPort old) {
        VyrP4::AddrPortSnatMatchSpec spec;
        spec.ingMdNatProfileIdIs(profileId);
        spec.ingMdSnatAclIdIs(aclId);
        spec.l4PortHdrSrcPortIs(old.port);
        spec.outerIpv4HdrSipIs(old.ip.value);
        return spec;
    }
    static VyrP4::AddrPortSnatTable::Action addrPortAction(IpAndPort old, IpAndPort nu, NextHop) {
        if (nu.port == 0) {
            VyrP4::SetTranslatedSipActionSpec a;
            a.checksumDeltaIs(calculateChecksumDeltaAddrOnly(old.ip.value, nu.ip.value));
            a.translatedSipIs(nu.ip.value);
            return a;
        }
        VyrP4::SetTranslatedSipPortActionSpec a;
        a.checksumDeltaIs(
            calculateChecksumDeltaAddrPort(old.ip.value, nu.ip.value, old.port, nu.port));
        a.translatedSipIs(nu.ip.value);
        a.translatedSportIs(nu.port);
        return a;
    }
    static VyrP4::EgrUcSnatMatchSpec egressMatch(uint16_t profileId, uint16_t aclId,
                                                 IpAndPort old) {
        VyrP4::EgrUcSnatMatchSpec spec;
        spec.egrMdNatProfileIdIs(profileId & 0xff);
        spec.egrMdSnatAclIdIs(aclId);
        spec.l4PortHdrSrcPortIs(old.port, old.port ? 0xffff : 0);
        spec.outerIpv4HdrSipIs(old.ip.value);
        spec.priorityIs(0);
        return spec;
    }
    static VyrP4::EgrUcSnatTable::Action egressAction(IpAndPort old, IpAndPort nu) {
        if (nu.port == 0) {
            VyrP4::EgrNatSipActionSpec a;
            a.checksumDeltaIs(calculateChecksumDeltaAddrOnly(old.ip.value, nu.ip.value));
            a.translatedSipIs(nu.ip.value);
            return a;
        }
        VyrP4::EgrNatSipPortActionSpec a;
        a.checksumDeltaIs(
            calculateChecksumDeltaAddrPort(old.ip.value, nu.ip.value, old.port, nu.port));
        a.translatedSipIs(nu.ip.value);
        a.translatedSportIs(nu.port);
        return a;
    }
};

struct DnatSide {
    using M = VyrNatTableMgrStatic;
    static constexpr bool kDnat = true;
    static constexpr const char* kUpper = "Dnat";
    static constexpr const char* kLower = "dnat";
    static constexpr const char* kAddrWord = "dip";
    static constexpr const char* kAclTableCheck = "staticDnatAclTable()";
    static constexpr const char* kAddrOnlyTableCheck = "addrOnlyDnatTable()";
    static constexpr const char* kAddrPortTableCheck = "addrPortDnatTable()";
    static constexpr const char* kEgressTableCheck = "egressDnatTable()";
    static constexpr const char* kAddrOnlyTableName = "AddrOnlyDnat";
    static constexpr const char* kEgressTableName = "EgressDnat";

    using AclEntry = HwStaticDnatAclEntry;
    using AddrOnlyEntry = DnatAddrOnlyEntry;
    using AddrPortEntry = DnatAddrPortEntry;
    using UnprogFrag = DnatAddrOnlyUnprogFrag;
    using Entry = HwStaticDnatEntry;
    using Profile = HwStaticDnat;
    using EgressRecord = HwEgressStaticDnatEntry;
    using EgressEntry = EgressDnatEntry;

    static auto& aclTable(M& m) { return m.staticDnatAclTable_; }
    static auto& addrOnlyTable(M& m) { return m.addrOnlyDnatTable_; }
    static auto& addrPortTable(M& m) { return m.addrPortDnatTable_; }
    static auto& egressTable(M& m) { return m.egressDnatTable_; }
    static IdBitmap& aclIds(M& m) { return m.dnatAclIds_; }
    static auto& aclEntries(M& m) { return m.hwStaticDnatAclEntries_; }
    static auto& profiles(M& m) { return m.hwStaticDnatEntries_; }
    static uint32_t addrOnlyTableSize(const M& m) { return m.dnatAddrOnlyTableSize_; }
    static uint32_t addrOnlyReserve(const M& m) {
        return m.vyrNatConfig_ ? m.vyrNatConfig_->addrOnlyDnatNonFragmentReserve() : 0;
    }
    static uint32_t& fragmentEntries(M& m) { return m.addrOnlyDnatFragmentEntries_; }
    static uint32_t& fragmentUnprogrammed(M& m) {
        return m.addrOnlyDnatFragmentUnprogrammedEntries_;
    }
    static uint32_t& egressFragmentEntries(M& m) { return m.egressDnatFragmentEntries_; }
    static uint32_t& egressFragmentUnprogrammed(M& m) {
        return m.egressDnatFragmentUnprogrammedEntries_;
    }

    static auto& entries(Profile& p) { return p.staticDnatEntries; }
    static auto& egressEntries(Profile& p) { return p.egressDnatEntries; }
    static IpAddr& newAddr(AddrOnlyEntry& e) { return e.newDip; }
    static IpAndPort& newAddrPort(AddrPortEntry& e) { return e.newDst; }
    static auto& newAddrs(UnprogFrag& f) { return f.newDip; }
    static void nextHopIs(AddrOnlyEntry& e, NextHop nh) { e.nextHop = nh.word(); }
    static void nextHopIs(AddrPortEntry& e, NextHop nh) { e.nextHop = nh.word(); }
    static void unprogNextHopIs(UnprogFrag& f, IpAddr addr, uint32_t word) {
        f.nextHopId[addr] = word;
    }
    static uint32_t recordedNextHop(const AddrOnlyEntry& e) { return e.nextHop; }

    static VyrP4::StaticDnatAclMatchSpec aclMatch(const HwStaticNatAclKey& key) {
        VyrP4::StaticDnatAclMatchSpec spec;
        spec.outerIpv4HdrSipIs(key.ipAndMask.addr.value, key.ipAndMask.mask);
        fillAclMatch(spec, key);
        return spec;
    }
    static VyrP4::SetDnatAclIdActionSpec aclAction(uint16_t id) {
        VyrP4::SetDnatAclIdActionSpec a;
        a.dnatAclIdIs(id);
        return a;
    }
    static VyrP4::AddrOnlyDnatMatchSpec addrOnlyMatch(uint16_t profileId, uint16_t aclId,
                                                      IpAddr addr) {
        VyrP4::AddrOnlyDnatMatchSpec spec;
        spec.ingMdDnatAclIdIs(aclId);
        spec.ingMdNatProfileIdIs(profileId);
        spec.outerIpv4HdrDipIs(addr.value);
        return spec;
    }
    // The address-only action, also used by address-and-port entries whose new port is 0.
    template <class Action>
    static Action addrOnlyDnatAction(IpAddr oldAddr, IpAddr newAddr, NextHop nh) {
        const uint16_t delta = calculateChecksumDeltaAddrOnly(oldAddr.value, newAddr.value);
        if (nh.ecmp) {
            VyrP4::SetTranslatedDipNextHopEcmpActionSpec a;
            a.checksumDeltaIs(delta);
            a.translatedDipIs(newAddr.value);
            a.ecmpIdIs(nh.id);
            return a;
        }
        VyrP4::SetTranslatedDipNextHopActionSpec a;
        a.checksumDeltaIs(delta);
        a.translatedDipIs(newAddr.value);
        a.nextHopIdIs(nh.id);
        return a;
    }
    static VyrP4::AddrOnlyDnatTable::Action addrOnlyAction(IpAddr oldAddr, IpAddr newAddr,
                                                           NextHop nh) {
        return addrOnlyDnatAction<VyrP4::AddrOnlyDnatTable::Action>(oldAddr, newAddr, nh);
    }
    static VyrP4::AddrPortDnatMatchSpec addrPortMatch(uint16_t profileId, uint16_t aclId,
                                                      IpAndPort old) {
        VyrP4::AddrPortDnatMatchSpec spec;
        spec.ingMdDnatAclIdIs(aclId);
        spec.ingMdNatProfileIdIs(profileId);
        spec.l4PortHdrDstPortIs(old.port);
        spec.outerIpv4HdrDipIs(old.ip.value);
        return spec;
    }
    static VyrP4::AddrPortDnatTable::Action addrPortAction(IpAndPort old, IpAndPort nu,
                                                           NextHop nh) {
        if (nu.port == 0) {
            return addrOnlyDnatAction<VyrP4::AddrPortDnatTable::Action>(old.ip, nu.ip, nh);
        }
        const uint16_t delta =
            calculateChecksumDeltaAddrPort(old.ip.value, nu.ip.value, old.port, nu.port);
        if (nh.ecmp) {
            VyrP4::SetTranslatedDipPortNextHopEcmpActionSpec a;
            a.checksumDeltaIs(delta);
            a.translatedDipIs(nu.ip.value);
            a.ecmpIdIs(nh.id);
            a.translatedDportIs(nu.port);
            return a;
        }
        VyrP4::SetTranslatedDipPortNextHopActionSpec a;
        a.checksumDeltaIs(delta);
        a.translatedDipIs(nu.ip.value);
        a.nextHopIdIs(nh.id);
        a.translatedDportIs(nu.port);
        return a;
    }
    static VyrP4::EgrUcDnatMatchSpec egressMatch(uint16_t profileId, uint16_t aclId,
                                                 IpAndPort old) {
        VyrP4::EgrUcDnatMatchSpec spec;
        spec.egrMdNatProfileIdIs(profileId & 0xff);
        spec.egrMdDnatAclIdIs(aclId);
        spec.l4PortHdrDstPortIs(old.port, old.port ? 0xffff : 0);
        spec.outerIpv4HdrDipIs(old.ip.value);
        spec.priorityIs(0);
        return spec;
    }
    static VyrP4::EgrUcDnatTable::Action egressAction(IpAndPort old, IpAndPort nu) {
        if (nu.port == 0) {
            VyrP4::EgrNatDipActionSpec a;
            a.checksumDeltaIs(calculateChecksumDeltaAddrOnly(old.ip.value, nu.ip.value));
            a.translatedDipIs(nu.ip.value);
            return a;
        }
        VyrP4::EgrNatDipPortActionSpec a;
        a.checksumDeltaIs(
            calculateChecksumDeltaAddrPort(old.ip.value, nu.ip.value, old.port, nu.port));
        a.translatedDipIs(nu.ip.value);
        a.translatedDportIs(nu.port);
        return a;
    }
};

} // namespace VyrNat
