#pragma once
// Host state the agent mounts or shares without reading its contents yet: IP status, L3
// interfaces, routes, the make-before-break table information, and the state shared with the
// ASIC layer's state machines.

#include "host/Entity.h"
#include "host/IpTypes.h"

#include <string>

namespace Ip {
// One interface's IP status: its primary IPv4 address, 0.0.0.0 when it has none.
class IpIntfStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Ip::IpIntfStatus")
    Ert::Attr<IpAddr> addr{this, "addr"};
};

class Status : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Ip::Status")
    // By interface id.
    Ert::Collection<std::string, Ert::Ptr<IpIntfStatus>> intfStatus{this, "intfStatus"};
};
} // namespace Ip

namespace OmaL3Intf {
class Table : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("OmaL3Intf::Table")
};
// The ASIC layer's L3 status.
class L3Status : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Oma::L3Status")
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

namespace Oma {
// The ASIC layer's state-machine data shared by its state machines.
class OmaCommonSmData : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Oma::OmaCommonSmData")
};
// The ASIC layer's L3 status.
class L3Status : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Oma::L3Status")
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
