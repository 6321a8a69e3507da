#pragma once
// The agent state machine: builds the table-manager owner for the chip profile, starts the NAT
// machinery when the profile's tables are up, and takes the agent down (no NAT in the profile)
// or restarts it (the SYN-ACK trap setting changed).

#include "common/Rebuild.h"
#include "host/MeterConfig.h"
#include "host/NatConfig.h"
#include "host/NatConnections.h"
#include "host/NextHopMap.h"
#include "host/OmaNatSm.h"
#include "host/PlatformState.h"
#include "host/SystemStatus.h"
#include "host/TableService.h"

#include <memory>
#include <unordered_map>

namespace VyrNat {

class VyrNatAgent;
class NatHelper;
class VyrNatTableMgr;

// State shared by the agent's state machines.
class VyrNatSmData : public Ert::Entity {
public:
    explicit VyrNatSmData(const std::string& name);
    ERT_ENTITY_TYPE("VyrNat::VyrNatSmData")

    Ert::Attr<Ert::Ptr<VyrAgentLib::VyrProfileData>> profileData{this, "profileData"};
    Ert::Attr<Ert::Ptr<VyrSharedState::MeterTableConfig>> natMeterConfig{this, "natMeterConfig"};
    Ert::Attr<bool> initialized{this, "initialized"};

    void handleInitialized();
};

using VyrNatAgentSmArgs =
    BuiltFrom<Ert::Ptr<VyrSystem::SystemStatus>, Ert::Ptr<VyrNatSmData>, Ert::Ptr<Ip::Nat::Config>,
              Ert::Ptr<Ip::Nat::Status>, Ert::Ptr<Ip::Nat::HwStatus>,
              Ert::Ptr<Oma::NextHopMapConfig>, Ert::Ptr<Oma::NextHopMapStatus>,
              Ert::Ptr<Ip::Nat::HwNatFlowStatus>, VyrNatAgent*>;

class VyrNatAgentSm : public Ert::RefCounted, public VyrNatAgentSmArgs {
public:
    VyrNatAgentSm(Ert::Ptr<VyrSystem::SystemStatus> systemStatus, Ert::Ptr<VyrNatSmData> smData,
                  Ert::Ptr<Ip::Nat::Config> natConfig, Ert::Ptr<Ip::Nat::Status> natStatus,
                  Ert::Ptr<Ip::Nat::HwStatus> natHwStatus,
                  Ert::Ptr<Oma::NextHopMapConfig> nhMapConfig,
                  Ert::Ptr<Oma::NextHopMapStatus> nhMapStatus,
                  Ert::Ptr<Ip::Nat::HwNatFlowStatus> hwFlowStatus, VyrNatAgent* parent);
    ~VyrNatAgentSm() override;

    void handleInitialized();
    void initTableManagers(const VyrDriver::VyrDevProfile& profile);
    void maybeStartStateMachines();
    void handleNatStatus();
    void handleNatTcpSynAckRequired();

    void vyrNatProfileDataEntryIs(const Ert::Ptr<VyrAgentLib::VyrProfileDataEntry>& entry);
    void vyrNatProfileDataEntryDel(const VyrDriver::VyrDevProfile& profile);
    bool vyrNatProfileDataEntryHas(const VyrDriver::VyrDevProfile& profile) const {
        return profileEntries_.count(profile) != 0;
    }
    void acsdIs(const std::string& name);
    void staticNatInfoIs();
    void natHelperIs(Ert::Ptr<Ip::Nat::Status> natStatus, Ert::Ptr<Ip::Status> ipStatus,
                     VyrNatTableMgr* tableMgr);
    void omaNatSmIs(const Oma::NatSmInputs& inputs);
    void omaNatSmDel() { omaNatSm_.reset(); }
    const Ert::Ptr<NatHelper>& natHelper() const { return natHelper_; }
    const Ert::Ptr<Oma::NatSm>& omaNatSm() const { return omaNatSm_; }

    bool intfNat() const { return intfNat_; }
    bool vrfNatHop() const { return vrfNatHop_; }
    bool egrMcNat() const { return egrMcNat_; }
    bool tableMgrsInitialized() const { return tableMgrsInitialized_; }
    bool initialized() const { return initialized_; }
    // The profile's tables are up and the NAT machinery may run.
    bool started() const { return started_; }
    const Ert::Ptr<Oma::OmaCommonSmData>& acsd() const { return acsd_; }
    const Ert::Ptr<MrouteLib::StaticNatInfo>& staticNatInfo() const { return staticNatInfo_; }
    VyrNatAgent* parent() const { return parent_; }

private:
    class SmDataReactor;
    class ProfileDataReactor;
    class ProfileEntryReactor;
    class NatConfigReactor;
    class NatStatusReactor;
    class NatHwStatusReactor;

    void goDown();
    void followProfileData();

    Ert::Ptr<VyrSystem::SystemStatus> systemStatus_;
    Ert::Ptr<VyrNatSmData> smData_;
    Ert::Ptr<Ip::Nat::Config> natConfig_;
    Ert::Ptr<Ip::Nat::Status> natStatus_;
    Ert::Ptr<Ip::Nat::HwStatus> natHwStatus_;
    Ert::Ptr<Oma::NextHopMapConfig> nhMapConfig_;
    Ert::Ptr<Oma::NextHopMapStatus> nhMapStatus_;
    Ert::Ptr<Ip::Nat::HwNatFlowStatus> hwFlowStatus_;
    VyrNatAgent* parent_; // not owned: the agent owns this state machine

    std::unique_ptr<SmDataReactor> smDataReactor_;
    std::unique_ptr<ProfileDataReactor> profileDataReactor_;
    std::unique_ptr<NatConfigReactor> natConfigReactor_;
    std::unique_ptr<NatStatusReactor> natStatusReactor_;
    std::unique_ptr<NatHwStatusReactor> natHwStatusReactor_;
    std::unordered_map<VyrDriver::VyrDevProfile, std::unique_ptr<ProfileEntryReactor>>
        profileEntries_;

    Ert::Ptr<Oma::OmaCommonSmData> acsd_;
    Ert::Ptr<Oma::L3Status> l3Status_; // the ASIC layer's, made with its common data
    Ert::Ptr<NatHelper> natHelper_;
    Ert::Ptr<Oma::NatSm> omaNatSm_;
    Ert::Ptr<MrouteLib::StaticNatInfo> staticNatInfo_;
    bool intfNat_ = false;
    bool vrfNatHop_ = false;
    bool egrMcNat_ = false;
    bool tableMgrsInitialized_ = false;
    bool initialized_ = false;
    bool started_ = false;
};

Ert::Ptr<VyrNatAgentSm>
vyrNatAgentSmFactory(Ert::Ptr<VyrSystem::SystemStatus> systemStatus, Ert::Ptr<VyrNatSmData> smData,
                     Ert::Ptr<Ip::Nat::Config> natConfig, Ert::Ptr<Ip::Nat::Status> natStatus,
                     Ert::Ptr<Ip::Nat::HwStatus> natHwStatus,
                     Ert::Ptr<Oma::NextHopMapConfig> nhMapConfig,
                     Ert::Ptr<Oma::NextHopMapStatus> nhMapStatus,
                     Ert::Ptr<Ip::Nat::HwNatFlowStatus> hwFlowStatus, VyrNatAgent* agent);

} // namespace VyrNat
