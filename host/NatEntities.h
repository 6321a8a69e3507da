#pragma once
// State-database entities that the NAT agent mounts. Their attributes are those the agent reads
// or writes; the host's NAT status model grows here as the agent's features do.

#include "host/Entity.h"
#include "host/IpTypes.h"

#include <cstdint>
#include <string>

namespace Ip::Nat {

// NAT configuration published by the configuration agent.
class Config : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Ip::Nat::Config")
    // Whether TCP SYN-ACK packets of new connections are trapped to the CPU too.
    Ert::Attr<bool> natTcpSynAckRequired{this, "natTcpSynAckRequired"};
};

// Per-VRF NAT status, published by the NAT agent of the control plane.
class VrfStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Ip::Nat::VrfStatus")
};

// Per-interface NAT status.
class IntfStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Ip::Nat::IntfStatus")
};

class Status : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Ip::Nat::Status")
    Ert::Collection<std::string, Ert::Ptr<VrfStatus>> vrfStatus{this, "vrfStatus"};
    Ert::Collection<std::string, Ert::Ptr<IntfStatus>> intfStatus{this, "intfStatus"};
};

// What the hardware agent publishes as programmed.
class HwStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Ip::Nat::HwStatus")
    Ert::Collection<std::string, Ert::Ptr<VrfStatus>> vrfStatus{this, "vrfStatus"};
    Ert::Collection<std::string, Ert::Ptr<IntfStatus>> intfStatus{this, "intfStatus"};
    void intfStatusDelAll() { intfStatus.clear(); }
    void vrfStatusDelAll() { vrfStatus.clear(); }
};

class HwCapabilities : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Ip::Nat::HwCapabilities")
    // Size of the shared-memory dynamic-connection tables; 0 when there are none.
    Ert::Attr<uint32_t> dynamicConnectionTableSize{this, "dynamicConnectionTableSize"};
    // NAT runs in a software data plane.
    Ert::Attr<bool> natDpdk{this, "natDpdk"};
    // With no NAT left configured, the agent's next start is to be hitfull.
    Ert::Attr<bool> natHitfullRestart{this, "natHitfullRestart"};
};

class HwNatFlowStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Ip::Nat::HwNatFlowStatus")
};

class DynamicConnectionStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Ip::Nat::DynamicConnectionStatus")
};

class DynamicConnectionHwStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Ip::Nat::DynamicConnectionHwStatus")
};

class DynamicConnectionMappingStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Ip::Nat::DynamicConnectionMappingStatus")
};

} // namespace Ip::Nat

namespace Ip {

class Status : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Ip::Status")
};

} // namespace Ip

namespace VyrNat {

// The NAT agent's own hardware configuration.
class Config : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("VyrNat::Config")
    // Entries of each table kept for non-fragment translations: fragment companions may use
    // only what is left above them.
    Ert::Attr<uint32_t> addrOnlySnatNonFragmentReserve{this, "addrOnlySnatNonFragmentReserve"};
    Ert::Attr<uint32_t> addrOnlyDnatNonFragmentReserve{this, "addrOnlyDnatNonFragmentReserve"};
    Ert::Attr<uint32_t> egressNonFragmentReserve{this, "egressNonFragmentReserve"};
};

class NextHopMapStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("VyrNat::NextHopMapStatus")
};

} // namespace VyrNat

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

class NextHopMapStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Oma::NextHopMapStatus")
};

} // namespace Oma

namespace OmaL3Intf {
class Table : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("OmaL3Intf::Table")
};
} // namespace OmaL3Intf

namespace Routing::Hardware {
class RouteStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Routing::Hardware::RouteStatus")
};
} // namespace Routing::Hardware

namespace VyrMbbShared {
class TableConfigMountInfo : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("VyrMbbShared::TableConfigMountInfo")
};
} // namespace VyrMbbShared

namespace VyrSystem {
class HitBitConfig : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("VyrSystem::HitBitConfig")
};
} // namespace VyrSystem

namespace VyrSharedState {
class MeterTableConfig : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("VyrSharedState::MeterTableConfig")
};
} // namespace VyrSharedState

namespace Oma {
// The ASIC layer's state-machine data shared by its state machines.
class OmaCommonSmData : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Oma::OmaCommonSmData")
};
} // namespace Oma

namespace MrouteLib {
// Static NAT information shared between the agent and the NAT state machine.
class StaticNatInfo : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("MrouteLib::StaticNatInfo")
};
} // namespace MrouteLib
