#pragma once
// What other agents publish about connections and flows the hardware carries: the dynamic
// connections that connection tracking translated, what the hardware holds of them, their
// mapping, and the NAT flows' hardware status.

#include "host/Entity.h"
#include "host/IpTypes.h"
#include "host/NatStatus.h"

#include <array>
#include <compare>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

namespace Ip::Nat {

class HwNatFlowStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Ip::Nat::HwNatFlowStatus")
};

// One direction of a translated connection. A source translation's tuple is the inside host's
// (destination 0.0.0.0 for an address-only translation towards every peer); a destination
// translation's tuple is the peer's towards the untranslated address (source 0.0.0.0 for an
// address-only translation from every peer).
struct DynamicConnectionKey {
    ConnTuple tuple;
    VrfId vrfId = 0;
    NatTarget target = kSourceTranslation;

    bool sourceTranslation() const { return target == kSourceTranslation; }
    // Address-only: the translated side is one address for every peer.
    bool addrOnly() const {
        return sourceTranslation() ? tuple.dst.ip.isZero() : tuple.src.ip.isZero();
    }
    // The order of the fields, compared as three words: collections of many connections
    // compare keys often.
    std::strong_ordering operator<=>(const DynamicConnectionKey& o) const {
        const auto w = words();
        const auto ow = o.words();
        return w[0] != ow[0] ? w[0] <=> ow[0] : w[1] != ow[1] ? w[1] <=> ow[1] : w[2] <=> ow[2];
    }
    bool operator==(const DynamicConnectionKey& o) const { return words() == o.words(); }
    std::string str() const;

private:
    std::array<uint64_t, 3> words() const {
        return {uint64_t(tuple.src.ip.value) << 16 | tuple.src.port,
                uint64_t(tuple.dst.ip.value) << 16 | tuple.dst.port,
                uint64_t(tuple.protocol) << 40 | uint64_t(vrfId) << 8 | target};
    }
};

struct DynamicConnection {
    uint16_t profile = 0;
    IpAndPort translated; // the new source, or the new destination
    bool fullCone = false;
    // The next-hop word of a destination translation (bit 31: ECMP group); 0 for none.
    uint32_t nextHop = 0;
    bool operator==(const DynamicConnection&) const = default;
};

} // namespace Ip::Nat

template <> struct std::hash<Ip::Nat::DynamicConnectionKey> {
    std::size_t operator()(const Ip::Nat::DynamicConnectionKey& k) const noexcept {
        const auto& t = k.tuple;
        const uint64_t a = uint64_t(t.src.ip.value) << 32 | t.dst.ip.value;
        const uint64_t b = uint64_t(t.src.port) << 48 | uint64_t(t.dst.port) << 32 |
                           uint64_t(t.protocol) << 1 | k.target;
        const uint64_t c = uint64_t(k.vrfId) * 0x165667B19E3779F9ull;
        return (a * 0x9E3779B97F4A7C15ull) ^ (b * 0xC2B2AE3D27D4EB4Full) ^ c;
    }
};

namespace Ip::Nat {

// Shared-memory tables of connections are hashed: they hold hundreds of thousands.
template <class V>
using ConnectionCollection =
    Ert::Collection<DynamicConnectionKey, V, std::unordered_map<DynamicConnectionKey, V>>;

class DynamicConnectionStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Ip::Nat::DynamicConnectionStatus")
    ConnectionCollection<DynamicConnection> connection{this, "connection"};
    // Connections and dynamic twice-NAT translations removed as idle.
    Ert::Attr<uint64_t> aged{this, "aged"};
};

// What the hardware holds of each connection: programmed or not, and why not.
class DynamicConnectionHwStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Ip::Nat::DynamicConnectionHwStatus")
    ConnectionCollection<bool> dynamicConnectionHw{this, "dynamicConnectionHw"};
    ConnectionCollection<std::string> reason{this, "reason"};
    // When the hardware last saw a programmed connection used (loop time in milliseconds),
    // or when it was programmed if never.
    ConnectionCollection<uint64_t> lastActive{this, "lastActive"};
};

class DynamicConnectionMappingStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Ip::Nat::DynamicConnectionMappingStatus")
};

} // namespace Ip::Nat
