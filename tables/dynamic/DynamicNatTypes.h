#pragma once
// The value types of dynamic NAT: the keys of the per-connection records, the tables a
// connection's entries can live in, and the record kept for each entry. A record keeps the
// addresses its match was written with rather than the whole match: with the flow's protocol,
// the VRF and the profile's flags they rebuild the match of any dynamic table, in a
// quarter of the room.

#include "host/IpTypes.h"

#include <cstdint>
#include <functional>
#include <string>

namespace VyrNat {

using Ip::ConnTuple;
using Ip::IpAddr;
using Ip::IpAndPort;

// 64-bit mixing (splitmix64's finaliser), for the record keys' hashes.
constexpr uint64_t mixHash(uint64_t h) {
    h = (h ^ (h >> 30)) * 0xbf58476d1ce4e5b9ull;
    h = (h ^ (h >> 27)) * 0x94d049bb133111ebull;
    return h ^ (h >> 31);
}

// Two multiplications: the tables reduce hashes modulo a prime, which spreads them further.
inline uint64_t connTupleHash(const ConnTuple& t, uint32_t extra) {
    const uint64_t a = (uint64_t(t.src.ip.value) << 32 | t.dst.ip.value) * 0x9e3779b97f4a7c15ull;
    const uint64_t b = (uint64_t(extra) << 40 | uint64_t(t.src.port) << 24 |
                        uint64_t(t.dst.port) << 8 | t.protocol) *
                       0xc2b2ae3d27d4eb4full;
    const uint64_t h = a ^ b;
    return h ^ (h >> 29);
}

// The key of every per-connection collection.
struct FlowAndVrfType {
    ConnTuple flow;
    uint32_t vrfId = 0;

    // "Value('VyrNat::FlowAndVrfType', ** {'flow': %s, 'vrfId': %u})"
    std::string str() const;
    auto operator<=>(const FlowAndVrfType&) const = default;
};

// The key of the address-only collections.
struct FlowAndProfileType {
    ConnTuple flow;
    uint16_t profile = 0;
    auto operator<=>(const FlowAndProfileType&) const = default;
};

// The key of a shared address-only DNAT entry.
struct IpAndProfileType {
    IpAddr ip;
    uint16_t profile = 0;
    auto operator<=>(const IpAndProfileType&) const = default;
};

// Where a connection's SNAT entry lives.
enum class DynamicSnatTable : uint8_t {
    dynSnatUnknown = 0,
    dynDnat1Snat = 1, // an SNAT entry placed in the DNAT1 table
    dynSnat1 = 2,
    dynSnat2 = 3,
    dynAddrOnlySnat = 4,
    dynSnatPartition = 5,
};

// Where a connection's DNAT entry lives.
enum class DynamicDnatTable : uint8_t {
    dynDnatUnknown = 0,
    dynDnat1Dnat = 1,
    dynDnat2 = 2,
    dynAddrOnlyDnat = 3,
    dynDnatPartition = 4,
    dynFullConeDnat = 5,
};

enum class DynamicTableAction : uint8_t {
    setSip = 0,
    setSipPort = 1,
    setDipNextHop = 2,
    setDipEcmp = 3,
    setDipPortNextHop = 4,
    setDipPortEcmp = 5,
};

// The addresses a match spec was written with: the `src` and `dst` of the create, after the
// full-cone rewrite. Packed, as a million of them are kept.
struct MatchAddrs {
    uint32_t sip = 0;
    uint32_t dip = 0;
    uint16_t sport = 0;
    uint16_t dport = 0;

    static MatchAddrs of(IpAndPort src, IpAndPort dst) {
        return {src.ip.value, dst.ip.value, src.port, dst.port};
    }
    IpAndPort src() const { return {IpAddr(sip), sport}; }
    IpAndPort dst() const { return {IpAddr(dip), dport}; }
    bool operator==(const MatchAddrs&) const = default;
};

// One connection's entry in a five-tuple table: the table and the match spec's addresses.
template <class Table> struct DynamicConnRecord {
    MatchAddrs addrs;
    Table table{};
};

// One connection's entry in a partitioned table.
struct DynamicNatPartitionAndMatchSpec {
    MatchAddrs addrs;
    uint8_t partitionId = 0;
};

// The peer is not part of a full-cone key: it becomes (0.0.0.0, profile).
inline IpAndPort fullConePeer(uint16_t profile) {
    return {IpAddr(0), profile};
}

// The host's dynamic NAT type of a translation: 0 only for a value of 0 with neither flag set;
// otherwise 2 for full cone, 3 for address-only, 1 for neither.
uint32_t getDynamicNatType(uint32_t value, bool fullCone, bool addrOnly);

} // namespace VyrNat

template <> struct std::hash<VyrNat::FlowAndVrfType> {
    std::size_t operator()(const VyrNat::FlowAndVrfType& k) const noexcept {
        return VyrNat::connTupleHash(k.flow, k.vrfId);
    }
};
template <> struct std::hash<VyrNat::FlowAndProfileType> {
    std::size_t operator()(const VyrNat::FlowAndProfileType& k) const noexcept {
        return VyrNat::connTupleHash(k.flow, k.profile);
    }
};
template <> struct std::hash<VyrNat::IpAndProfileType> {
    std::size_t operator()(const VyrNat::IpAndProfileType& k) const noexcept {
        return VyrNat::mixHash(uint64_t(k.ip.value) << 16 | k.profile);
    }
};
