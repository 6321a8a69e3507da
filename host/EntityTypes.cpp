#include "host/HitBit.h"
#include "host/Hubdb.h"
#include "host/MeterConfig.h"
#include "host/NatConfig.h"
#include "host/NatConnections.h"
#include "host/NatStatus.h"
#include "host/NextHopMap.h"
#include "host/PlatformState.h"

namespace {

// Every entity type the NAT agent mounts is known to the state database from load on.
[[maybe_unused]] const bool registered = [] {
    Hubdb::registerEntityType<Ip::Nat::Config>();
    Hubdb::registerEntityType<Ip::Nat::Status>();
    Hubdb::registerEntityType<Ip::Nat::HwStatus>();
    Hubdb::registerEntityType<Ip::Nat::HwCapabilities>();
    Hubdb::registerEntityType<Ip::Nat::HwNatFlowStatus>();
    Hubdb::registerEntityType<Ip::Nat::DynamicConnectionStatus>();
    Hubdb::registerEntityType<Ip::Nat::DynamicConnectionHwStatus>();
    Hubdb::registerEntityType<Ip::Nat::DynamicConnectionMappingStatus>();
    Hubdb::registerEntityType<Ip::Status>();
    Hubdb::registerEntityType<Ip::IpIntfStatus>();
    Hubdb::registerEntityType<VyrNat::Config>();
    Hubdb::registerEntityType<VyrNat::NextHopMapStatus>();
    Hubdb::registerEntityType<Oma::NextHopMapConfig>();
    Hubdb::registerEntityType<Oma::NextHopMapStatus>();
    Hubdb::registerEntityType<OmaL3Intf::Table>();
    Hubdb::registerEntityType<Routing::Hardware::RouteStatus>();
    Hubdb::registerEntityType<VyrMbbShared::TableConfigMountInfo>();
    Hubdb::registerEntityType<VyrSharedState::MeterTableConfig>();
    Hubdb::registerEntityType<VyrSystem::HitBitConfig>();
    return true;
}();

} // namespace
