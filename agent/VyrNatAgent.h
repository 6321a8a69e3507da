#pragma once
// The NAT agent that the host creates when it loads the library: opens the ring trace, mounts
// the agent's state, builds the CLI callback, the shared state-machine data, the agent state
// machine and the hardware manager, and owns the orderly exit that a restart goes through.

#include "agent/VyrNatAgentSm.h"
#include "cli/VyrNatAgentCli.h"
#include "host/Agent.h"
#include "host/HitBit.h"
#include "host/MeterConfig.h"
#include "host/NatConfig.h"
#include "host/NatConnections.h"
#include "host/NextHopMap.h"
#include "host/PlatformState.h"
#include "host/TableService.h"
#include "tables/VyrNatTableMgr.h"

#include <string>

namespace VyrNat {

class VyrNatAgent : public VyrAgentLib::VyrAgent, public VyrNatCliAgent {
public:
    explicit VyrNatAgent(const std::string& name);
    ~VyrNatAgent() override;

    void doInit() override;
    void doMountsComplete(const Hubdb::MountStatus& status,
                          Ert::Ptr<Hubdb::EntityManager> em) override;
    void doStartAgent() override;
    void handleFlushEntityLogComplete() override;
    // True when nothing the agent programmed is left in its records; names every collection
    // that still holds something.
    bool doCheckAgentCleanState() const override;

    // The ring-trace file prefix doInit chose; empty when the ring trace is disabled.
    const std::string& ringlogPrefix() const { return ringlogPrefix_; }

    const Ert::Ptr<Ip::Nat::Config>& natConfig() const { return natConfig_; }
    const Ert::Ptr<Ip::Nat::Status>& natStatus() const { return natStatus_; }
    const Ert::Ptr<Ip::Nat::HwStatus>& natHwStatus() const { return natHwStatus_; }
    const Ert::Ptr<Ip::Nat::HwCapabilities>& natHwCapabilities() const {
        return natHwCapabilities_;
    }
    const Ert::Ptr<Ip::Nat::HwNatFlowStatus>& hwFlowStatus() const { return hwFlowStatus_; }
    const Ert::Ptr<VyrMbbShared::TableConfigMountInfo>& mbbTableConfigMountInfo() const {
        return mbbTableConfigMountInfo_;
    }
    const Ert::Ptr<Routing::Hardware::RouteStatus>& routingHwRouteStatus() const {
        return routingHwRouteStatus_;
    }
    const Ert::Ptr<VyrNat::Config>& vyrNatConfig() const { return vyrNatConfig_; }
    const Ert::Ptr<Oma::NextHopMapConfig>& nhMapConfig() const { return nhMapConfig_; }
    const Ert::Ptr<Oma::NextHopMapStatus>& nhMapStatus() const { return nhMapStatus_; }
    const Ert::Ptr<Ip::Nat::DynamicConnectionStatus>& dynamicConnectionStatus() const {
        return dynamicConnectionStatus_;
    }
    const Ert::Ptr<Ip::Nat::DynamicConnectionHwStatus>& dynamicConnectionHwStatus() const {
        return dynamicConnectionHwStatus_;
    }
    const Ert::Ptr<Ip::Nat::DynamicConnectionMappingStatus>& connectionMappingStatus() const {
        return connectionMappingStatus_;
    }
    const Ert::Ptr<OmaL3Intf::Table>& omaL3IntfTable() const { return omaL3IntfTable_; }
    const Ert::Ptr<Ert::Dir>& vyrMcastConfigDir() const { return vyrMcastConfigDir_; }
    const Ert::Ptr<Ip::Status>& ipStatus() const { return ipStatus_; }
    const Ert::Ptr<VyrNatSmData>& vyrNatSmData() const { return vyrNatSmData_; }
    const Ert::Ptr<VyrSystem::HitBitConfig>& hitBitConfig() const { return hitBitConfig_; }
    const Ert::Ptr<Ert::Dir>& hitBitStatusDir() const { return hitBitStatusDir_; }
    const Ert::Ptr<VyrNatCliCallback>& cliCallback() const { return cliCallback_; }
    const Ert::Ptr<VyrNatTableMgr>& vyrNatTableMgr() const { return vyrNatTableMgr_; }
    VyrNatTableMgr* cliTableMgr() const override { return vyrNatTableMgr_.get(); }
    NatHelper* cliNatHelper() const override;
    Oma::NatSm* cliOmaNatSm() const override;
    const Ert::Ptr<VyrNatAgentSm>& natAgentSm() const { return natAgentSm_; }
    const Ert::Ptr<VyrAgentLib::VyrAgentLibHwMgr>& vyrAgentLibHwMgr() const {
        return vyrAgentLibHwMgr_;
    }

    // Setters that build an object keep the one held when it was built from the same arguments.
    void natAgentSmIs(Ert::Ptr<VyrSystem::SystemStatus> systemStatus, Ert::Ptr<VyrNatSmData> smData,
                      Ert::Ptr<Ip::Nat::Config> natConfig, Ert::Ptr<Ip::Nat::Status> natStatus,
                      Ert::Ptr<Ip::Nat::HwStatus> natHwStatus,
                      Ert::Ptr<Oma::NextHopMapConfig> nhMapConfig,
                      Ert::Ptr<Oma::NextHopMapStatus> nhMapStatus,
                      Ert::Ptr<Ip::Nat::HwNatFlowStatus> hwFlowStatus);
    void natAgentSmDel() { natAgentSm_.reset(); }
    void vyrAgentLibHwMgrIs(std::shared_ptr<VyrP4::Chip> chip,
                            Ert::Ptr<VyrAgentLib::VyrProfileData> profileData);
    void vyrAgentLibHwMgrDel() { vyrAgentLibHwMgr_.reset(); }
    void vyrNatSmDataIs();
    void vyrNatSmDataDel() { vyrNatSmData_.reset(); }
    void cliCallbackIs(const std::string& name, const std::string& path, VyrNatAgent* agent);
    void cliCallbackDel();
    void vyrNatTableMgrIs(const VyrNatTableMgrInputs& inputs);
    void vyrNatTableMgrDel();

    // Path of the agent's command-request directory.
    std::string commandRequestPath() const;

private:
    void mountSharedMemoryTables(const Ert::Ptr<Hubdb::EntityManager>& em);

    std::string ringlogPrefix_;
    Ert::Ptr<Ip::Nat::Config> natConfig_;
    Ert::Ptr<Ip::Nat::Status> natStatus_;
    Ert::Ptr<Ip::Nat::HwStatus> natHwStatus_;
    Ert::Ptr<Ip::Nat::HwCapabilities> natHwCapabilities_;
    Ert::Ptr<Ip::Nat::HwNatFlowStatus> hwFlowStatus_;
    Ert::Ptr<VyrMbbShared::TableConfigMountInfo> mbbTableConfigMountInfo_;
    Ert::Ptr<Routing::Hardware::RouteStatus> routingHwRouteStatus_;
    Ert::Ptr<VyrNat::Config> vyrNatConfig_;
    Ert::Ptr<Oma::NextHopMapConfig> nhMapConfig_;
    Ert::Ptr<Oma::NextHopMapStatus> nhMapStatus_;
    Ert::Ptr<Ip::Nat::DynamicConnectionStatus> dynamicConnectionStatus_;
    Ert::Ptr<Ip::Nat::DynamicConnectionHwStatus> dynamicConnectionHwStatus_;
    Ert::Ptr<Ip::Nat::DynamicConnectionMappingStatus> connectionMappingStatus_;
    Ert::Ptr<OmaL3Intf::Table> omaL3IntfTable_;
    Ert::Ptr<Ert::Dir> vyrMcastConfigDir_;
    Ert::Ptr<Ip::Status> ipStatus_;
    Ert::Ptr<VyrNatSmData> vyrNatSmData_;
    Ert::Ptr<VyrSystem::HitBitConfig> hitBitConfig_;
    Ert::Ptr<Ert::Dir> hitBitStatusDir_;
    Ert::Ptr<VyrNatCliCallback> cliCallback_;
    Ert::Ptr<VyrNatTableMgr> vyrNatTableMgr_;
    Ert::Ptr<VyrNatAgentSm> natAgentSm_;
    Ert::Ptr<VyrAgentLib::VyrAgentLibHwMgr> vyrAgentLibHwMgr_;
};

} // namespace VyrNat

// The library's entry point: the host builds the agent through it.
extern "C" VyrAgentLib::VyrAgent* vyrNatAgentFactory(const char* name);
