#pragma once
// State-database entities that the NAT agent mounts. Their attributes are those the agent reads
// or writes; the host's NAT status model grows here as the agent's features do.

#include "host/Entity.h"
#include "host/IpTypes.h"
#include "host/NatStatus.h"

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
    // Reverse static translations (source on ingress, destination on egress) can be programmed.
    Ert::Attr<bool> reverseStaticNatSupported{this, "reverseStaticNatSupported"};
    // Translations between VRFs, through next hops, can be programmed.
    Ert::Attr<bool> vrfNatSupported{this, "vrfNatSupported"};
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

// The next hops resolved for translated destinations: the next-hop word by address (bit 31
// marks an ECMP group).
class NextHopMapStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Oma::NextHopMapStatus")
    Ert::Collection<Ip::IpAddr, uint32_t> nextHop{this, "nextHop"};
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

// Where a meter table is programmed: one pipe of the chip.
struct DeviceTarget {
    uint8_t pipe = 0;
    bool operator==(const DeviceTarget&) const = default;
};

// A meter table registered by the table manager that uses it.
struct MeterTableReg {
    DeviceTarget deviceTarget;
    bool active = false;
    uint32_t scope = 0; // meter scope; 0: the meters are indexed across the whole table
    bool operator==(const MeterTableReg&) const = default;
};

// One meter: rate and burst as the policer asks for them.
struct MeterConfig {
    uint32_t rate = 0;
    uint32_t burst = 0;
    bool flag = false;
    bool operator==(const MeterConfig&) const = default;
};

// The meters of one pipe, by meter index.
class MeterPipeConfig : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("VyrSharedState::MeterPipeConfig")
    Ert::Collection<uint32_t, MeterConfig> config{this, "config"};
    void configIs(uint32_t index, uint32_t rate, uint32_t burst, bool flag) {
        config.set(index, MeterConfig{rate, burst, flag});
    }
    void configDel(uint32_t index) { config.erase(index); }
};

// The shared meter configuration: the meter tables registered by name, and the meters of every
// pipe. The emulated chip has one pipe; a test adds more with pipeConfigIs.
class MeterTableConfig : public Ert::Entity {
public:
    explicit MeterTableConfig(std::string name = {}) : Entity(std::move(name)) { pipeConfigIs(0); }
    ERT_ENTITY_TYPE("VyrSharedState::MeterTableConfig")

    Ert::Collection<std::string, MeterTableReg> meterTable{this, "meterTable"};
    Ert::Collection<uint8_t, Ert::Ptr<MeterPipeConfig>> pipeConfig{this, "pipeConfig"};

    void configIs(DeviceTarget target, bool active, const std::string& name, uint32_t scope) {
        meterTable.set(name, MeterTableReg{target, active, scope});
    }
    // The meters of `pipe`, made on first use.
    const Ert::Ptr<MeterPipeConfig>& pipeConfigIs(uint8_t pipe) {
        if (!pipeConfig.has(pipe)) {
            pipeConfig.set(pipe, Ert::make<MeterPipeConfig>(name() + "/" + std::to_string(pipe)));
        }
        return *pipeConfig.find(pipe);
    }
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
