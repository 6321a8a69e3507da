#pragma once
// The value types and records of twice NAT. A translation becomes an address-only entry keyed by
// (VRF, source, destination) that yields a key id, for port translations a port entry keyed by
// (key id, ports), and a rewrite entry keyed by its rewrite id, shared by every translation that
// rewrites to the same addresses, ports and checksum delta.

#include "chip/P4Tables.h"
#include "host/IpTypes.h"
#include "host/NatStatus.h"

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>

namespace VyrNat {

using Ip::IpAddr;
using Ip::IpAndPort;
using Ip::VrfId;

using Ip::Nat::NatHwResult;

enum class ProtocolType : uint8_t {
    protocolInvalid = 0, // no action set
    protocolAny = 1,
    protocolTcp = 2,
    protocolUdp = 3,
};
const char* str(ProtocolType t);
// 6 is TCP, 17 UDP, anything else any protocol.
ProtocolType getProtocolType(uint8_t proto);

enum class LookupResult : uint8_t {
    lookupMiss = 0,
    lookupMatchHit = 1,       // the untranslated side is there, translated otherwise
    lookupMatchActionHit = 2, // the translation is there
};

struct AddrOnlyKey {
    VrfId vrf = 0;
    IpAddr sip; // untranslated source
    IpAddr dip; // untranslated destination
    std::string str() const;
    auto operator<=>(const AddrOnlyKey&) const = default;
};

// The untranslated ports of a port translation sharing an address pair.
struct AddrOnlyL4Ports {
    uint16_t sport = 0;
    uint16_t dport = 0;
    std::string str() const;
    auto operator<=>(const AddrOnlyL4Ports&) const = default;
};

struct AddrOnlyAction {
    ProtocolType proto = ProtocolType::protocolInvalid;
    bool frag = false;
    uint32_t nextHop = 0;
    bool ecmp = false;
    uint16_t rewriteId = 0;
    std::string str() const;
    auto operator<=>(const AddrOnlyAction&) const = default;
};

struct AddrPortKey {
    uint16_t keyId = 0;
    uint16_t sport = 0; // 0 in the destination-port table's keys
    uint16_t dport = 0; // 0 in the source-port table's keys
    std::string str() const;
    auto operator<=>(const AddrPortKey&) const = default;
};

struct AddrPortAction {
    ProtocolType proto = ProtocolType::protocolInvalid;
    uint32_t nextHop = 0;
    bool ecmp = false;
    uint16_t rewriteId = 0;
    std::string str() const;
    auto operator<=>(const AddrPortAction&) const = default;
};

// What a rewrite entry writes: the translated source and destination and the checksum delta.
struct RewriteInfo {
    IpAndPort src;
    IpAndPort dst;
    uint16_t delta = 0;
    std::string str() const;
    auto operator<=>(const RewriteInfo&) const = default;
};

// The rewrite of a translation: its translated side with the checksum delta of all four changes.
RewriteInfo rewriteInfo(IpAndPort srcOld, IpAndPort dstOld, IpAndPort srcNew, IpAndPort dstNew);

// The address-only entry of one address pair: its native translation (none when `action.proto`
// is protocolInvalid) and one element per port translation of the pair.
struct AddrOnlyEntry {
    uint16_t keyId = 0;
    VyrP4::TwiceNatAddrOnlyMatchSpec matchSpec;
    AddrOnlyAction action;
    std::set<uint32_t> profiles; // the profiles that installed the native translation
    std::map<AddrOnlyL4Ports, AddrOnlyAction> fragEntry;
    bool validFragmentInHw = false; // the hardware holds a fragment element's real action
};

// A port entry, in the table its ports choose; `dynamic` selects the dynamic actions.
struct AddrPortEntry {
    AddrPortAction action;
    std::set<uint32_t> profiles;
    bool dynamic = false;
};

// Which translated ports a rewrite action writes.
enum RewritePorts : uint8_t {
    kRewriteNoPort = 0,
    kRewriteSport = 1,
    kRewriteDport = 2,
};
// The ports a translation changes.
inline uint8_t rewritePorts(IpAndPort srcOld, IpAndPort dstOld, IpAndPort srcNew,
                            IpAndPort dstNew) {
    return uint8_t((srcOld.port != srcNew.port ? kRewriteSport : 0) |
                   (dstOld.port != dstNew.port ? kRewriteDport : 0));
}

struct RewriteEntry {
    RewriteInfo info;
    uint16_t rewriteId = 0;
    VyrP4::TwiceNatRewriteMatchSpec matchSpec;
    uint32_t refCount = 0;
    // The ports the action writes: those any user changes. A port a user keeps is written with
    // the value it has, so one action serves every user.
    uint8_t ports = kRewriteNoPort;

    void refCountInc(uint32_t n) { refCount += n; }
    void refCountDec(uint32_t n) { refCount -= n; }

    // The fields the shared-id table keys and numbers the entry by.
    static constexpr auto keyField = &RewriteEntry::info;
    static constexpr auto idField = &RewriteEntry::rewriteId;
};

} // namespace VyrNat

template <> struct std::hash<VyrNat::AddrOnlyKey> {
    std::size_t operator()(const VyrNat::AddrOnlyKey& k) const noexcept {
        const uint64_t h = (uint64_t(k.sip.value) << 32 | k.dip.value) * 0x9e3779b97f4a7c15ull ^
                           uint64_t(k.vrf) * 0xc2b2ae3d27d4eb4full;
        return h ^ (h >> 29);
    }
};
template <> struct std::hash<VyrNat::AddrPortKey> {
    std::size_t operator()(const VyrNat::AddrPortKey& k) const noexcept {
        const uint64_t h =
            (uint64_t(k.keyId) << 32 | uint64_t(k.sport) << 16 | k.dport) * 0x9e3779b97f4a7c15ull;
        return h ^ (h >> 29);
    }
};
template <> struct std::hash<VyrNat::RewriteInfo> {
    std::size_t operator()(const VyrNat::RewriteInfo& k) const noexcept {
        const uint64_t h =
            (uint64_t(k.src.ip.value) << 32 | k.dst.ip.value) * 0x9e3779b97f4a7c15ull ^
            (uint64_t(k.src.port) << 32 | uint64_t(k.dst.port) << 16 | k.delta) *
                0xc2b2ae3d27d4eb4full;
        return h ^ (h >> 29);
    }
};
