#pragma once
// What differs between the source and destination twins of the egress static manager, over
// which its operations are written once.

#include "common/TranslationActions.h"
#include "tables/egress/VyrNatTableMgrEgressStatic.h"

namespace VyrNat {

namespace EgressStatic {

inline bool isMulticast(IpAddr a) {
    return (a.value >> 28) == 0xE;
}

// The profile's record, made on first use.
template <class Map> typename Map::mapped_type& recordOf(Map& records, uint16_t profileId) {
    auto& hw = records.try_emplace(profileId).first->second;
    hw.profile = profileId;
    return hw;
}

} // namespace EgressStatic

// The shared part of the two twins' traits, over what each names: its records, tables, spec
// types and the setters of the address and port fields.
template <class Self> struct EgrTraitsBase {
    static auto& records(VyrNatTableMgrEgressStatic& m) { return m.*Self::kRecords; }
    static auto& addrTable(const VyrNatTableMgrEgressStatic& m) {
        const auto& table = m.*Self::kAddrTable;
        VYR_ASSERT(table);
        return *table;
    }
    static auto& addrPortTable(const VyrNatTableMgrEgressStatic& m) {
        const auto& table = m.*Self::kAddrPortTable;
        VYR_ASSERT(table);
        return *table;
    }
    static auto addrMatch(uint16_t profileId, uint8_t frag, IpAddr ip) {
        typename Self::AddrMatch ms;
        ms.egrMdNatProfileIdIs(profileId);
        ms.egrMdIpv4FragmentIs(frag);
        (ms.*Self::kAddrIs)(ip.value);
        return ms;
    }
    static auto addrPortMatch(uint16_t profileId, IpAndPort ip, uint8_t proto) {
        typename Self::AddrPortMatch ms;
        ms.egrMdNatProfileIdIs(profileId);
        (ms.*Self::kPortIs)(ip.port);
        ms.outerIpv4HdrProtocolIs(proto);
        (ms.*Self::kAddrPortAddrIs)(ip.ip.value);
        return ms;
    }
};

// What differs between the source and the destination twin: tables, records, specs, actions
// and names. The logic over them is shared.
struct EgrSnatTraits : EgrTraitsBase<EgrSnatTraits> {
    using Hw = EgrHwStaticSnat;
    using AddrKey = EgrSnatAddrKey;
    using AddrEntry = EgrSnatAddrOnlyEntry;
    using AddrMatch = VyrP4::EgrAddrSnatMatchSpec;
    using AddrPortMatch = VyrP4::EgrAddrPortSnatMatchSpec;
    static constexpr bool kDnat = false;
    static constexpr auto kRecords = &VyrNatTableMgrEgressStatic::hwStaticSnatEntries_;
    static constexpr auto kAddrTable = &VyrNatTableMgrEgressStatic::egrAddrSnatTable_;
    static constexpr auto kAddrPortTable = &VyrNatTableMgrEgressStatic::egrAddrPortSnatTable_;
    static constexpr auto kAddrIs = &AddrMatch::outerIpv4HdrSipIs;
    static constexpr auto kPortIs = &AddrPortMatch::l4PortHdrSrcPortIs;
    static constexpr auto kAddrPortAddrIs = &AddrPortMatch::outerIpv4HdrSipIs;
    static constexpr const char* kUpdate = "updateStaticSnat";
    static constexpr const char* kUpdateAddr = "updateStaticAddrSnat";
    static constexpr const char* kUpdateAddrPort = "updateStaticAddrPortSnat";
    static constexpr const char* kDelete = "deleteStaticSnat";
    static constexpr const char* kRetry = "handleSnatRetry";
    static constexpr const char* kRingAddr =
        "updateStaticAddrSnat profile %u old %x new %x update %u frag %u programmed %u";

    static VyrP4::EgrAddrSnatTable::Action addrAction(IpAddr oldIp, IpAddr newIp) {
        return addrTranslation<VyrP4::EgrNatSipActionSpec>(oldIp, newIp);
    }
    static VyrP4::EgrAddrPortSnatTable::Action addrPortAction(IpAndPort o, IpAndPort n) {
        return addrPortTranslation<VyrP4::EgrNatSipPortActionSpec>(o, n);
    }
    static void cleanup(VyrNatTableMgrEgressStatic& m, uint16_t profileId, IpAddr ip,
                        bool fromAddrPort) {
        m.cleanupAddrSnat(profileId, ip, fromAddrPort);
    }
};

struct EgrDnatTraits : EgrTraitsBase<EgrDnatTraits> {
    using Hw = EgrHwStaticDnat;
    using AddrKey = EgrDnatAddrKey;
    using AddrEntry = EgrDnatAddrOnlyEntry;
    using AddrMatch = VyrP4::EgrAddrDnatMatchSpec;
    using AddrPortMatch = VyrP4::EgrAddrPortDnatMatchSpec;
    static constexpr bool kDnat = true;
    static constexpr auto kRecords = &VyrNatTableMgrEgressStatic::hwStaticDnatEntries_;
    static constexpr auto kAddrTable = &VyrNatTableMgrEgressStatic::egrAddrDnatTable_;
    static constexpr auto kAddrPortTable = &VyrNatTableMgrEgressStatic::egrAddrPortDnatTable_;
    static constexpr auto kAddrIs = &AddrMatch::outerIpv4HdrDipIs;
    static constexpr auto kPortIs = &AddrPortMatch::l4PortHdrDstPortIs;
    static constexpr auto kAddrPortAddrIs = &AddrPortMatch::outerIpv4HdrDipIs;
    static constexpr const char* kUpdate = "updateStaticDnat";
    static constexpr const char* kUpdateAddr = "updateStaticAddrDnat";
    static constexpr const char* kUpdateAddrPort = "updateStaticAddrPortDnat";
    static constexpr const char* kDelete = "deleteStaticDnat";
    static constexpr const char* kRetry = "handleDnatRetry";
    static constexpr const char* kRingAddr =
        "updateStaticAddrDnat profile %u old %x new %x update %u frag %u programmed %u";

    // A multicast destination needs its MAC rewritten with the address; the MAC variants derive
    // it in the pipeline. The untranslated address decides, for both entry kinds alike.
    static VyrP4::EgrAddrDnatTable::Action addrAction(IpAddr oldIp, IpAddr newIp) {
        if (newIp.isZero()) {
            return VyrP4::EgrNatDropActionSpec();
        }
        if (EgressStatic::isMulticast(oldIp)) {
            return addrTranslation<VyrP4::EgrNatDipMacActionSpec>(oldIp, newIp);
        }
        return addrTranslation<VyrP4::EgrNatDipActionSpec>(oldIp, newIp);
    }
    static VyrP4::EgrAddrPortDnatTable::Action addrPortAction(IpAndPort o, IpAndPort n) {
        if (EgressStatic::isMulticast(o.ip)) {
            return addrPortTranslation<VyrP4::EgrNatDipPortMacActionSpec>(o, n);
        }
        return addrPortTranslation<VyrP4::EgrNatDipPortActionSpec>(o, n);
    }
    static void cleanup(VyrNatTableMgrEgressStatic& m, uint16_t profileId, IpAddr ip,
                        bool fromAddrPort) {
        m.cleanupAddrDnat(profileId, ip, fromAddrPort);
    }
};

} // namespace VyrNat
