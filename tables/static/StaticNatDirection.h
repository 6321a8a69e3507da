#pragma once
// What differs between the source (SNAT) and destination (DNAT) sides of the static manager:
// their tables, records, counters, match fields, actions and words in messages. Each side
// names its members once; the operations are written once over them.

#include "common/SharedEntry.h"
#include "common/TranslationActions.h"
#include "host/Trace.h"
#include "tables/static/VyrNatTableMgrStatic.h"

namespace VyrNat {

extern Trace::Handle staticTrace;

// Why a translation that another one holds already is refused.
constexpr const char* kDuplicate = "duplicate of another translation";

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

// Accessors over the members each side names.
template <class Self> struct StaticSideBase {
    using M = VyrNatTableMgrStatic;
    // Tables and records, of a manager as its caller holds it.
    template <class MM> static auto& aclTable(MM& m) { return m.*Self::kAclTable; }
    template <class MM> static auto& addrOnlyTable(MM& m) { return m.*Self::kAddrOnlyTable; }
    template <class MM> static auto& addrPortTable(MM& m) { return m.*Self::kAddrPortTable; }
    template <class MM> static auto& egressTable(MM& m) { return m.*Self::kEgressTable; }
    static auto& acls(M& m) { return m.*Self::kAcls; }
    static auto& profiles(M& m) { return m.*Self::kProfiles; }
    static uint32_t addrOnlyTableSize(const M& m) { return m.*Self::kAddrOnlyTableSize; }
    static uint32_t addrOnlyReserve(const M& m) {
        return m.vyrNatConfig_ ? (m.vyrNatConfig_.get()->*Self::kAddrOnlyReserve)() : 0;
    }
    static uint32_t& fragmentEntries(M& m) { return m.*Self::kFragmentEntries; }
    static uint32_t& fragmentUnprogrammed(M& m) { return m.*Self::kFragmentUnprogrammed; }
    static uint32_t& egressFragmentEntries(M& m) { return m.*Self::kEgressFragmentEntries; }
    static uint32_t& egressFragmentUnprogrammed(M& m) {
        return m.*Self::kEgressFragmentUnprogrammed;
    }
    // Records: a profile's entries, an entry's new address, a parked fragment's users.
    template <class P> static auto& entries(P& p) { return p.*Self::kEntries; }
    template <class P> static auto& egressEntries(P& p) { return p.*Self::kEgressEntries; }
    template <class E> static auto& newAddr(E& e) { return e.*Self::kNewAddr; }
    template <class E> static auto& newAddrPort(E& e) { return e.*Self::kNewAddrPort; }
    template <class F> static auto& newAddrs(F& f) { return f.*Self::kNewAddrs; }

    static auto aclMatch(const HwStaticNatAclKey& key) {
        typename Self::AclMatch spec;
        (spec.*Self::kAclPeerIs)(key.ipAndMask.addr.value, key.ipAndMask.mask);
        fillAclMatch(spec, key);
        return spec;
    }
    static auto aclAction(uint16_t id) {
        typename Self::AclAction a;
        (a.*Self::kAclIdIs)(id);
        return a;
    }
    static auto addrOnlyMatch(uint16_t profileId, uint16_t aclId, IpAddr addr) {
        typename Self::AddrOnlyMatch spec;
        spec.ingMdNatProfileIdIs(profileId);
        (spec.*Self::kMatchAclIdIs)(aclId);
        (spec.*Self::kAddrIs)(addr.value);
        return spec;
    }
    static auto addrPortMatch(uint16_t profileId, uint16_t aclId, IpAndPort old) {
        typename Self::AddrPortMatch spec;
        spec.ingMdNatProfileIdIs(profileId);
        (spec.*Self::kPortMatchAclIdIs)(aclId);
        (spec.*Self::kPortIs)(old.port);
        (spec.*Self::kPortAddrIs)(old.ip.value);
        return spec;
    }
    static auto egressMatch(uint16_t profileId, uint16_t aclId, IpAndPort old) {
        typename Self::EgressMatch spec;
        spec.egrMdNatProfileIdIs(profileId & 0xff);
        (spec.*Self::kEgressAclIdIs)(aclId);
        (spec.*Self::kEgressPortIs)(old.port, old.port ? 0xffff : 0);
        (spec.*Self::kEgressAddrIs)(old.ip.value);
        spec.priorityIs(0);
        return spec;
    }
};

struct SnatSide : StaticSideBase<SnatSide> {
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
    static constexpr const char* kAddrPortOp = "createStaticSnatAddrPortTable";
    static constexpr const char* kEgressOp = "createEgressSnatEntry";

    using AclEntry = HwStaticSnatAclEntry;
    using AddrOnlyEntry = SnatAddrOnlyEntry;
    using AddrPortEntry = SnatAddrPortEntry;
    using UnprogFrag = SnatAddrOnlyUnprogFrag;
    using Entry = HwStaticSnatEntry;
    using Profile = HwStaticSnat;
    using EgressRecord = HwEgressStaticSnatEntry;
    using AclMatch = VyrP4::StaticSnatAclMatchSpec;
    using AclAction = VyrP4::SetSnatAclIdActionSpec;
    using AddrOnlyMatch = VyrP4::AddrOnlySnatMatchSpec;
    using AddrPortMatch = VyrP4::AddrPortSnatMatchSpec;
    using EgressMatch = VyrP4::EgrUcSnatMatchSpec;

    static constexpr auto kAclTable = &M::staticSnatAclTable_;
    static constexpr auto kAddrOnlyTable = &M::addrOnlySnatTable_;
    static constexpr auto kAddrPortTable = &M::addrPortSnatTable_;
    static constexpr auto kEgressTable = &M::egressSnatTable_;
    static constexpr auto kAcls = &M::snatAcls_;
    static constexpr auto kProfiles = &M::hwStaticSnatEntries_;
    static constexpr auto kAddrOnlyTableSize = &M::snatAddrOnlyTableSize_;
    static constexpr auto kAddrOnlyReserve = &Config::addrOnlySnatNonFragmentReserve;
    static constexpr auto kFragmentEntries = &M::addrOnlySnatFragmentEntries_;
    static constexpr auto kFragmentUnprogrammed = &M::addrOnlySnatFragmentUnprogrammedEntries_;
    static constexpr auto kEgressFragmentEntries = &M::egressSnatFragmentEntries_;
    static constexpr auto kEgressFragmentUnprogrammed = &M::egressSnatFragmentUnprogrammedEntries_;
    static constexpr auto kEntries = &Profile::staticSnatEntries;
    static constexpr auto kEgressEntries = &Profile::egressSnatEntries;
    static constexpr auto kNewAddr = &AddrOnlyEntry::newSip;
    static constexpr auto kNewAddrPort = &AddrPortEntry::newSrc;
    static constexpr auto kNewAddrs = &UnprogFrag::newSip;
    static constexpr auto kAclPeerIs = &AclMatch::outerIpv4HdrDipIs;
    static constexpr auto kAclIdIs = &AclAction::snatAclIdIs;
    static constexpr auto kMatchAclIdIs = &AddrOnlyMatch::ingMdSnatAclIdIs;
    static constexpr auto kAddrIs = &AddrOnlyMatch::outerIpv4HdrSipIs;
    static constexpr auto kPortMatchAclIdIs = &AddrPortMatch::ingMdSnatAclIdIs;
    static constexpr auto kPortIs = &AddrPortMatch::l4PortHdrSrcPortIs;
    static constexpr auto kPortAddrIs = &AddrPortMatch::outerIpv4HdrSipIs;
    static constexpr auto kEgressAclIdIs = &EgressMatch::egrMdSnatAclIdIs;
    static constexpr auto kEgressPortIs = &EgressMatch::l4PortHdrSrcPortIs;
    static constexpr auto kEgressAddrIs = &EgressMatch::outerIpv4HdrSipIs;

    // Source translations carry no next hop.
    static void nextHopIs(AddrOnlyEntry&, NextHop) {}
    static void nextHopIs(AddrPortEntry&, NextHop) {}
    static void unprogNextHopIs(UnprogFrag&, IpAddr, uint32_t) {}
    static uint32_t recordedNextHop(const AddrOnlyEntry&) { return 0; }

    static VyrP4::AddrOnlySnatTable::Action addrOnlyAction(IpAddr oldAddr, IpAddr newAddr,
                                                           NextHop) {
        return addrTranslation<VyrP4::SetTranslatedSipActionSpec>(oldAddr, newAddr);
    }
    static VyrP4::AddrPortSnatTable::Action addrPortAction(IpAndPort old, IpAndPort nu, NextHop) {
        return sipTranslation<VyrP4::AddrPortSnatTable::Action>(old, nu);
    }
    static VyrP4::EgrUcSnatTable::Action egressAction(IpAndPort old, IpAndPort nu) {
        return translationByPort<VyrP4::EgrNatSipActionSpec, VyrP4::EgrNatSipPortActionSpec,
                                 VyrP4::EgrUcSnatTable::Action>(old, nu);
    }
};

struct DnatSide : StaticSideBase<DnatSide> {
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
    static constexpr const char* kAddrPortOp = "createStaticDnatAddrPortTable";
    static constexpr const char* kEgressOp = "createEgressDnatEntry";

    using AclEntry = HwStaticDnatAclEntry;
    using AddrOnlyEntry = DnatAddrOnlyEntry;
    using AddrPortEntry = DnatAddrPortEntry;
    using UnprogFrag = DnatAddrOnlyUnprogFrag;
    using Entry = HwStaticDnatEntry;
    using Profile = HwStaticDnat;
    using EgressRecord = HwEgressStaticDnatEntry;
    using AclMatch = VyrP4::StaticDnatAclMatchSpec;
    using AclAction = VyrP4::SetDnatAclIdActionSpec;
    using AddrOnlyMatch = VyrP4::AddrOnlyDnatMatchSpec;
    using AddrPortMatch = VyrP4::AddrPortDnatMatchSpec;
    using EgressMatch = VyrP4::EgrUcDnatMatchSpec;

    static constexpr auto kAclTable = &M::staticDnatAclTable_;
    static constexpr auto kAddrOnlyTable = &M::addrOnlyDnatTable_;
    static constexpr auto kAddrPortTable = &M::addrPortDnatTable_;
    static constexpr auto kEgressTable = &M::egressDnatTable_;
    static constexpr auto kAcls = &M::dnatAcls_;
    static constexpr auto kProfiles = &M::hwStaticDnatEntries_;
    static constexpr auto kAddrOnlyTableSize = &M::dnatAddrOnlyTableSize_;
    static constexpr auto kAddrOnlyReserve = &Config::addrOnlyDnatNonFragmentReserve;
    static constexpr auto kFragmentEntries = &M::addrOnlyDnatFragmentEntries_;
    static constexpr auto kFragmentUnprogrammed = &M::addrOnlyDnatFragmentUnprogrammedEntries_;
    static constexpr auto kEgressFragmentEntries = &M::egressDnatFragmentEntries_;
    static constexpr auto kEgressFragmentUnprogrammed = &M::egressDnatFragmentUnprogrammedEntries_;
    static constexpr auto kEntries = &Profile::staticDnatEntries;
    static constexpr auto kEgressEntries = &Profile::egressDnatEntries;
    static constexpr auto kNewAddr = &AddrOnlyEntry::newDip;
    static constexpr auto kNewAddrPort = &AddrPortEntry::newDst;
    static constexpr auto kNewAddrs = &UnprogFrag::newDip;
    static constexpr auto kAclPeerIs = &AclMatch::outerIpv4HdrSipIs;
    static constexpr auto kAclIdIs = &AclAction::dnatAclIdIs;
    static constexpr auto kMatchAclIdIs = &AddrOnlyMatch::ingMdDnatAclIdIs;
    static constexpr auto kAddrIs = &AddrOnlyMatch::outerIpv4HdrDipIs;
    static constexpr auto kPortMatchAclIdIs = &AddrPortMatch::ingMdDnatAclIdIs;
    static constexpr auto kPortIs = &AddrPortMatch::l4PortHdrDstPortIs;
    static constexpr auto kPortAddrIs = &AddrPortMatch::outerIpv4HdrDipIs;
    static constexpr auto kEgressAclIdIs = &EgressMatch::egrMdDnatAclIdIs;
    static constexpr auto kEgressPortIs = &EgressMatch::l4PortHdrDstPortIs;
    static constexpr auto kEgressAddrIs = &EgressMatch::outerIpv4HdrDipIs;

    static void nextHopIs(AddrOnlyEntry& e, NextHop nh) { e.nextHop = nh.word(); }
    static void nextHopIs(AddrPortEntry& e, NextHop nh) { e.nextHop = nh.word(); }
    static void unprogNextHopIs(UnprogFrag& f, IpAddr addr, uint32_t word) {
        f.nextHopId[addr] = word;
    }
    static uint32_t recordedNextHop(const AddrOnlyEntry& e) { return e.nextHop; }

    static VyrP4::AddrOnlyDnatTable::Action addrOnlyAction(IpAddr oldAddr, IpAddr newAddr,
                                                           NextHop nh) {
        return dipTranslation<VyrP4::AddrOnlyDnatTable::Action>(oldAddr, newAddr, nh);
    }
    static VyrP4::AddrPortDnatTable::Action addrPortAction(IpAndPort old, IpAndPort nu,
                                                           NextHop nh) {
        return dipPortTranslation<VyrP4::AddrPortDnatTable::Action>(old, nu, nh);
    }
    static VyrP4::EgrUcDnatTable::Action egressAction(IpAndPort old, IpAndPort nu) {
        return translationByPort<VyrP4::EgrNatDipActionSpec, VyrP4::EgrNatDipPortActionSpec,
                                 VyrP4::EgrUcDnatTable::Action>(old, nu);
    }
};

// The fragment entries of one side's ingress records, as the shared-entry logic sees them:
// keyed by the untranslated address, wishing for a new address.
template <class Side> struct IngressFragments {
    using Records = typename Side::Entry;
    using Wish = IpAddr;
    static constexpr const char* kAddrWord = Side::kAddrWord;
    static constexpr bool kParkedCount = Side::kDnat;
    static Trace::Handle& trace() { return staticTrace; }
    static auto& entries(Records& r) { return r.addrOnlyMS; }
    static auto& parked(Records& r) { return r.unprogrammedFrag; }
    static IpAddr entryKey(IpAddr a) { return a; }
    static IpAddr parkedKey(IpAddr a) { return a; }
    static IpAddr addrOf(IpAddr a) { return a; }
    static IpAddr wishOf(const typename Side::AddrOnlyEntry& e) { return Side::newAddr(e); }
    static auto& users(typename Side::UnprogFrag& f) { return Side::newAddrs(f); }
    static void parkFrom(typename Side::UnprogFrag& f, const typename Side::AddrOnlyEntry& e) {
        Side::newAddrs(f)[Side::newAddr(e)] = e.refCount;
        Side::unprogNextHopIs(f, Side::newAddr(e), Side::recordedNextHop(e));
    }
};

// The fragment entries of one side's egress records: keyed by address and port 0.
template <class Side> struct EgressFragments {
    using Records = typename Side::EgressRecord;
    using Wish = IpAddr;
    static constexpr const char* kAddrWord = Side::kAddrWord;
    static constexpr bool kParkedCount = true;
    static Trace::Handle& trace() { return staticTrace; }
    static auto& entries(Records& r) { return r.entry; }
    static auto& parked(Records& r) { return r.unprogrammedFrag; }
    static IpAndPort entryKey(IpAddr a) { return {a, 0}; }
    static IpAddr parkedKey(IpAddr a) { return a; }
    static IpAddr addrOf(IpAndPort a) { return a.ip; }
    template <class E> static IpAddr wishOf(const E& e) { return e.newAddr.ip; }
    static auto& users(EgressUnprogFrag& f) { return f.newAddr; }
    template <class E> static void parkFrom(EgressUnprogFrag& f, const E& e) {
        f.newAddr[e.newAddr.ip] = e.refCount;
    }
};

} // namespace VyrNat
