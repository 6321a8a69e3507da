#pragma once
// What other agents publish about connections and flows the hardware carries: the dynamic
// connections of the software NAT path, their hardware status and mapping, and the NAT flows'
// hardware status.

#include "host/Entity.h"

namespace Ip::Nat {

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
