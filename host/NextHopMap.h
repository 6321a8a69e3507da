#pragma once
// Next-hop resolution for translated destinations: the requests the agent writes and the next
// hops the host resolves for them.

#include "host/Entity.h"
#include "host/IpTypes.h"

#include <cstdint>

namespace Oma {

class NextHopMapConfig : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Oma::NextHopMapConfig")
    // Next-hop resolution requests by prefix.
    Ert::Collection<Ip::Prefix, bool> routeResolverRequest{this, "routeResolverRequest"};
    Ert::Attr<uint64_t> systemGenTime{this, "systemGenTime"};
    void routeResolverRequestDelAll() { routeResolverRequest.clear(); }
    void systemGenTimeIs(uint64_t t) { systemGenTime.set(t); }
};

// The next hops resolved for translated destinations: the next-hop word by address (bit 31
// marks an ECMP group).
class NextHopMapStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Oma::NextHopMapStatus")
    Ert::Collection<Ip::IpAddr, uint32_t> nextHop{this, "nextHop"};
};

} // namespace Oma

namespace VyrNat {

class NextHopMapStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("VyrNat::NextHopMapStatus")
};

} // namespace VyrNat
