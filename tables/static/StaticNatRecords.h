#pragma once
// The static manager's records: the ACL key of every rule and what was written under it.

#include "chip/P4Tables.h"
#include "common/NextHop.h"
#include "host/IpTypes.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>

namespace VyrNat {

using Ip::IpAddr;
using Ip::IpAddrWithFullMask;
using Ip::IpAndPort;

// The peer prefix and protocol a static rule is limited to; `fragment` marks the key of the
// fragment companions of address-and-port translations.
struct HwStaticNatAclKey {
    IpAddrWithFullMask ipAndMask;
    uint16_t protocol = 0; // 0: any protocol
    bool fragment = false;

    auto operator<=>(const HwStaticNatAclKey&) const = default;
    std::string str() const;
};

// A static ACL entry in hardware and the translation entries that use its ACL id.
template <class MatchSpec> struct HwStaticAclEntry {
    HwStaticNatAclKey aclKey;
    uint16_t aclId = 0; // never 0 for a recorded entry
    uint16_t refCount = 0;
    uint16_t addrOnly = 0; // users that are non-fragment address-only translations
    MatchSpec matchSpec;

    void refCountInc(uint16_t n) { refCount = uint16_t(refCount + n); }
    void refCountDec(uint16_t n) { refCount = uint16_t(refCount - n); }
    void addrOnlyInc(uint16_t n) { addrOnly = uint16_t(addrOnly + n); }
    void addrOnlyDec(uint16_t n) { addrOnly = uint16_t(addrOnly - n); }
};
using HwStaticSnatAclEntry = HwStaticAclEntry<VyrP4::StaticSnatAclMatchSpec>;
using HwStaticDnatAclEntry = HwStaticAclEntry<VyrP4::StaticDnatAclMatchSpec>;

struct SnatAddrOnlyEntry {
    VyrP4::AddrOnlySnatMatchSpec matchSpec;
    IpAddr newSip;
    uint16_t refCount = 1; // translations sharing a fragment entry
};
struct DnatAddrOnlyEntry {
    VyrP4::AddrOnlyDnatMatchSpec matchSpec;
    IpAddr newDip;
    uint16_t refCount = 1;
    uint32_t nextHop = 0;
};
struct SnatAddrPortEntry {
    VyrP4::AddrPortSnatMatchSpec matchSpec;
    IpAndPort newSrc;
};
struct DnatAddrPortEntry {
    VyrP4::AddrPortDnatMatchSpec matchSpec;
    IpAndPort newDst;
    uint32_t nextHop = 0;
};

// A fragment entry held back from hardware, with the new addresses its users ask for.
struct SnatAddrOnlyUnprogFrag {
    IpAddr addr;
    std::map<IpAddr, uint16_t> newSip;
};
struct DnatAddrOnlyUnprogFrag {
    IpAddr addr;
    std::map<IpAddr, uint16_t> newDip;
    std::map<IpAddr, uint32_t> nextHopId;
};

// The ingress entries of one profile under one ACL key.
// Entries are kept in hash maps: a translation's add and delete stay cheap with many of them;
// listings sort what they print.
template <class AddrPort, class AddrOnly, class UnprogFrag> struct HwStaticEntry {
    HwStaticNatAclKey aclKey;
    std::unordered_map<IpAndPort, AddrPort> addrPortMS;
    std::unordered_map<IpAddr, AddrOnly> addrOnlyMS;
    std::unordered_map<IpAddr, UnprogFrag> unprogrammedFrag;

    bool empty() const {
        return addrPortMS.empty() && addrOnlyMS.empty() && unprogrammedFrag.empty();
    }
};
using HwStaticSnatEntry =
    HwStaticEntry<SnatAddrPortEntry, SnatAddrOnlyEntry, SnatAddrOnlyUnprogFrag>;
using HwStaticDnatEntry =
    HwStaticEntry<DnatAddrPortEntry, DnatAddrOnlyEntry, DnatAddrOnlyUnprogFrag>;

// An egress unicast entry; fragment entries have port 0 and may be shared.
template <class MatchSpec> struct EgressEntry {
    MatchSpec matchSpec;
    IpAndPort newAddr;
    uint16_t refCount = 1;
};
using EgressSnatEntry = EgressEntry<VyrP4::EgrUcSnatMatchSpec>;
using EgressDnatEntry = EgressEntry<VyrP4::EgrUcDnatMatchSpec>;

// An egress fragment entry held back from hardware: the new addresses its users ask for.
struct EgressUnprogFrag {
    IpAddr addr;
    std::map<IpAddr, uint16_t> newAddr;
};
using EgressSnatUnprogFrag = EgressUnprogFrag;
using EgressDnatUnprogFrag = EgressUnprogFrag;

// The egress entries of one profile under one ACL key.
template <class Entry> struct HwEgressStaticEntry {
    HwStaticNatAclKey aclKey;
    std::unordered_map<IpAndPort, Entry> entry;
    std::unordered_map<IpAddr, EgressUnprogFrag> unprogrammedFrag;

    bool empty() const { return entry.empty() && unprogrammedFrag.empty(); }
};
using HwEgressStaticSnatEntry = HwEgressStaticEntry<EgressSnatEntry>;
using HwEgressStaticDnatEntry = HwEgressStaticEntry<EgressDnatEntry>;

// Every entry of one NAT profile, by ACL key.
struct HwStaticSnat {
    uint16_t profileId = 0;
    std::map<HwStaticNatAclKey, HwStaticSnatEntry> staticSnatEntries;
    std::map<HwStaticNatAclKey, HwEgressStaticSnatEntry> egressSnatEntries;

    bool empty() const { return staticSnatEntries.empty() && egressSnatEntries.empty(); }
};
struct HwStaticDnat {
    uint16_t profileId = 0;
    std::map<HwStaticNatAclKey, HwStaticDnatEntry> staticDnatEntries;
    std::map<HwStaticNatAclKey, HwEgressStaticDnatEntry> egressDnatEntries;

    bool empty() const { return staticDnatEntries.empty() && egressDnatEntries.empty(); }
};

} // namespace VyrNat

template <> struct std::hash<VyrNat::HwStaticNatAclKey> {
    std::size_t operator()(const VyrNat::HwStaticNatAclKey& k) const noexcept {
        uint64_t h = uint64_t(k.ipAndMask.addr.value) << 32 | k.ipAndMask.mask;
        h = (h ^ (h >> 29)) * 0xBF58476D1CE4E5B9ull;
        h ^= uint64_t(k.protocol) << 1 | (k.fragment ? 1u : 0u);
        return (h ^ (h >> 32)) * 0x94D049BB133111EBull;
    }
};
