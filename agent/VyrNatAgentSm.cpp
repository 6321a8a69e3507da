#include "agent/VyrNatAgentSm.h"

#include "agent/VyrNatAgent.h"
#include "helper/VyrNatHelper.h"
#include "host/Duolog.h"
#include "tables/VyrNatTableMgr.h"
#include "tables/dynamic/VyrNatTableMgrDynamic.h"

namespace VyrNat {

namespace {
Trace::Handle th("VyrNatAgent");
// Start-up mode that restarts the agent without keeping the hardware state.
constexpr uint32_t kStartupModeHitfull = 3;
// How often the host polls the translations' counters, in seconds.
constexpr double kCounterPollingInterval = 23;
} // namespace

VyrNatSmData::VyrNatSmData(const std::string& name) : Entity(name) {
    handleInitialized();
}

void VyrNatSmData::handleInitialized() {
    if (!profileData()) {
        profileData.set(Ert::make<VyrAgentLib::VyrProfileData>(name() + "/profileData"));
    }
    initialized.set(true);
}

// Follows the shared data: a new profile data object re-targets the profile-data reactor.
class VyrNatAgentSm::SmDataReactor : public Ert::Reactor<VyrNatSmData> {
public:
    SmDataReactor(VyrNatAgentSm& sm, Ert::Ptr<VyrNatSmData> data) : sm_(sm) {
        onChange(&VyrNatSmData::profileData, [this] { sm_.followProfileData(); });
        follow(std::move(data));
    }

private:
    VyrNatAgentSm& sm_;
};

// Follows the profile data's entries: one profile-entry reactor per chip profile.
class VyrNatAgentSm::ProfileDataReactor : public Ert::Reactor<VyrAgentLib::VyrProfileData> {
public:
    explicit ProfileDataReactor(VyrNatAgentSm& sm) : sm_(sm) {
        onEntry(&VyrAgentLib::VyrProfileData::entry, [this](const VyrDriver::VyrDevProfile& p) {
            if (const auto* e = entity()->entry.find(p)) {
                sm_.vyrNatProfileDataEntryIs(*e);
            } else {
                sm_.vyrNatProfileDataEntryDel(p);
            }
        });
    }

private:
    VyrNatAgentSm& sm_;
};

// One chip profile's entry: builds the table managers once, then waits for its tables.
class VyrNatAgentSm::ProfileEntryReactor : public Ert::Reactor<VyrAgentLib::VyrProfileDataEntry> {
public:
    ProfileEntryReactor(VyrNatAgentSm& sm, Ert::Ptr<VyrAgentLib::VyrProfileDataEntry> entry)
        : sm_(sm) {
        onChange(&VyrAgentLib::VyrProfileDataEntry::tablesInitialized,
                 [this] { handleTablesInitialized(); });
        follow(std::move(entry));
        handleInitialized();
        handleTablesInitialized();
    }
    bool initialized() const { return initialized_; }

private:
    void handleInitialized() {
        sm_.initTableManagers(entity()->profile());
        initialized_ = true;
    }
    void handleTablesInitialized() {
        if (entity()->tablesInitialized()) {
            sm_.maybeStartStateMachines();
        }
    }
    VyrNatAgentSm& sm_;
    bool initialized_ = false;
};

// A change of the SYN-ACK trap setting, and the attach itself, restart a running agent.
class VyrNatAgentSm::NatConfigReactor : public Ert::Reactor<Ip::Nat::Config> {
public:
    NatConfigReactor(VyrNatAgentSm& sm, Ert::Ptr<Ip::Nat::Config> config) : sm_(sm) {
        onChange(&Ip::Nat::Config::natTcpSynAckRequired,
                 [this] { sm_.handleNatTcpSynAckRequired(); });
        follow(std::move(config));
        sm_.handleNatTcpSynAckRequired();
    }

private:
    VyrNatAgentSm& sm_;
};

// The VRF status of the NAT status and of the published hardware status.
template <class E> class VrfStatusReactor : public Ert::Reactor<E> {
public:
    VrfStatusReactor(VyrNatAgentSm& sm, Ert::Ptr<E> status) : sm_(sm) {
        this->onEntry(&E::vrfStatus, [this](const std::string&) { sm_.handleNatStatus(); });
        this->follow(std::move(status));
    }

private:
    VyrNatAgentSm& sm_;
};
class VyrNatAgentSm::NatStatusReactor : public VrfStatusReactor<Ip::Nat::Status> {
    using VrfStatusReactor::VrfStatusReactor;
};
class VyrNatAgentSm::NatHwStatusReactor : public VrfStatusReactor<Ip::Nat::HwStatus> {
    using VrfStatusReactor::VrfStatusReactor;
};

VyrNatAgentSm::VyrNatAgentSm(Ert::Ptr<VyrSystem::SystemStatus> systemStatus,
                             Ert::Ptr<VyrNatSmData> smData, Ert::Ptr<Ip::Nat::Config> natConfig,
                             Ert::Ptr<Ip::Nat::Status> natStatus,
                             Ert::Ptr<Ip::Nat::HwStatus> natHwStatus,
                             Ert::Ptr<Oma::NextHopMapConfig> nhMapConfig,
                             Ert::Ptr<Oma::NextHopMapStatus> nhMapStatus,
                             Ert::Ptr<Ip::Nat::HwNatFlowStatus> hwFlowStatus, VyrNatAgent* parent)
    : VyrNatAgentSmArgs({systemStatus, smData, natConfig, natStatus, natHwStatus, nhMapConfig,
                         nhMapStatus, hwFlowStatus, parent}),
      systemStatus_(systemStatus), smData_(smData), natConfig_(natConfig), natStatus_(natStatus),
      natHwStatus_(natHwStatus), nhMapConfig_(nhMapConfig), nhMapStatus_(nhMapStatus),
      hwFlowStatus_(hwFlowStatus), parent_(parent) {
    VYR_ASSERT(smData_ && parent_);
    profileDataReactor_ = std::make_unique<ProfileDataReactor>(*this);
    smDataReactor_ = std::make_unique<SmDataReactor>(*this, smData_);
    if (natConfig_) {
        natConfigReactor_ = std::make_unique<NatConfigReactor>(*this, natConfig_);
    }
    if (natStatus_) {
        natStatusReactor_ = std::make_unique<NatStatusReactor>(*this, natStatus_);
    }
    if (natHwStatus_) {
        natHwStatusReactor_ = std::make_unique<NatHwStatusReactor>(*this, natHwStatus_);
    }
    followProfileData();
    handleInitialized();
}

VyrNatAgentSm::~VyrNatAgentSm() = default;

void VyrNatAgentSm::followProfileData() {
    const auto& data = smData_->profileData();
    profileDataReactor_->follow(data);
    if (!data) {
        return;
    }
    for (const auto& [profile, entry] : data->entry) {
        vyrNatProfileDataEntryIs(entry);
    }
}

void VyrNatAgentSm::handleInitialized() {
    if (nhMapConfig_) {
        nhMapConfig_->routeResolverRequestDelAll();
        nhMapConfig_->systemGenTimeIs(systemStatus_ ? systemStatus_->genTime() : 0);
    }
    staticNatInfoIs();
    acsdIs("CommonSmData");
    initialized_ = true;
}

void VyrNatAgentSm::vyrNatProfileDataEntryIs(
    const Ert::Ptr<VyrAgentLib::VyrProfileDataEntry>& entry) {
    auto& slot = profileEntries_[entry->profile()];
    if (slot && slot->entity() == entry.get()) {
        return;
    }
    slot.reset();
    slot = std::make_unique<ProfileEntryReactor>(*this, entry);
}

void VyrNatAgentSm::vyrNatProfileDataEntryDel(const VyrDriver::VyrDevProfile& profile) {
    profileEntries_.erase(profile);
}

void VyrNatAgentSm::acsdIs(const std::string& name) {
    if (!acsd_ || acsd_->name() != name) {
        acsd_ = Ert::make<Oma::OmaCommonSmData>(name);
        l3Status_ = Ert::make<Oma::L3Status>("L3Status");
    }
}

void VyrNatAgentSm::staticNatInfoIs() {
    if (!staticNatInfo_) {
        staticNatInfo_ = Ert::make<MrouteLib::StaticNatInfo>("staticNatInfo");
    }
}

void VyrNatAgentSm::initTableManagers(const VyrDriver::VyrDevProfile& profile) {
    if (tableMgrsInitialized_) {
        VTRACE(th, 0, "tableMgrsInitialized: " << tableMgrsInitialized_);
        return;
    }
    Ert::Ptr<VyrAgentLib::VyrProfileDataEntry> entry;
    if (const auto& data = smData_->profileData()) {
        if (const auto* e = data->entry.find(profile)) {
            entry = *e;
        }
    }
    static const VyrSystem::ProfileCapabilities noCapabilities;
    const VyrSystem::ProfileCapabilities* caps =
        systemStatus_ ? systemStatus_->profileCapabilities.find(profile.name) : nullptr;
    if (!caps) {
        caps = &noCapabilities;
    }
    intfNat_ = caps->intfNat();
    vrfNatHop_ = caps->vrfNatHop();
    egrMcNat_ = caps->egrMcNat();
    const bool nat = caps->natSupported();
    const bool natFlow = caps->natFlowSupported();
    VTRACE(th, 0,
           "Nat: " << nat << ", intf nat: " << intfNat_ << ", vrf nat hop: " << vrfNatHop_
                   << ", nat flow: " << natFlow);
    if (!nat) {
        DUOLOG(th, 0, "Nat not supported in this profile. Going down.");
        goDown();
        return;
    }
    const auto& caps2 = parent_->natHwCapabilities();
    const bool natDpdk = caps2 && caps2->natDpdk();
    VTRACE(th, 0, "Nat dpdk: " << natDpdk);
    VyrNatTableMgrInputs inputs;
    inputs.profileEntry = entry;
    inputs.systemStatus = systemStatus_;
    inputs.intfNat = intfNat_;
    inputs.vrfNatHop = vrfNatHop_;
    inputs.egrMcNat = egrMcNat_;
    inputs.meterTable = smData_->natMeterConfig();
    inputs.hitBitConfig = parent_->hitBitConfig();
    inputs.hitBitStatusDir = parent_->hitBitStatusDir();
    inputs.entityManager = parent_->entityManager();
    inputs.sharedMemory = parent_->mirra();
    inputs.natConfig = natConfig_;
    inputs.vyrNatConfig = parent_->vyrNatConfig();
    inputs.vyrMcastConfigDir = parent_->vyrMcastConfigDir();
    inputs.natFlowSupported = natFlow;
    inputs.natDpdk = natDpdk;
    parent_->vyrNatTableMgrIs(inputs);
    tableMgrsInitialized_ = true;
}

void VyrNatAgentSm::maybeStartStateMachines() {
    VyrNatTableMgr* tableMgr = parent_->vyrNatTableMgr().get();
    VYR_ASSERT(tableMgr);
    natHelperIs(natStatus_, parent_->ipStatus(), tableMgr);
    natHelper_->hwNatProfileSupportedIs(true);
    natHelper_->staticCounterPollingIntervalIs(kCounterPollingInterval);
    natHelper_->dynamicCounterPollingIntervalIs(kCounterPollingInterval);

    // Without a dynamic manager there is no full cone.
    const bool fullCone =
        tableMgr->tableMgrDynamic() && tableMgr->tableMgrDynamic()->snatDynFullConeSupported();
    const bool natDpdk = tableMgr->natDpdk();
    natHelper_->globalHwDynamicEntriesIs(!natDpdk);
    natHelper_->fullConeHwDnatUdpEntriesIs(natDpdk ? !fullCone : true);
    natHelper_->fullConeHwSnatUdpEntriesIs(natDpdk ? false : fullCone);

    Oma::NatSmInputs inputs;
    inputs.acsd = acsd_;
    inputs.natStatus = natStatus_;
    inputs.natHwStatus = natHwStatus_;
    inputs.dynamicConnectionStatus = parent_->dynamicConnectionStatus();
    inputs.dynamicConnectionHwStatus = parent_->dynamicConnectionHwStatus();
    inputs.connectionMappingStatus = parent_->connectionMappingStatus();
    inputs.natHwCapabilities = parent_->natHwCapabilities();
    inputs.natConfig = natConfig_;
    inputs.nhMapConfig = nhMapConfig_;
    inputs.nhMapStatus = nhMapStatus_;
    inputs.routeStatus = parent_->routingHwRouteStatus();
    inputs.helper = natHelper_;
    inputs.staticNatInfo = staticNatInfo_;
    inputs.l3IntfTable = parent_->omaL3IntfTable();
    inputs.l3Status = l3Status_;
    omaNatSmIs(inputs);
    omaNatSm_->hwConnEntryRqrdOnDeleteIs(true);
    omaNatSm_->initializedIs(true);
    if (intfNat_) {
        VYR_ASSERT(tableMgr->tableMgrStatic());
        VYR_ASSERT(tableMgr->tableMgrDynamic());
        tableMgr->omaNatSmStatusIs(omaNatSm_->status());
    }
    if (!started_) {
        started_ = true;
        DUOLOG(th, 0, "All NAT tables initialized: NAT state machine started");
    }
}

void VyrNatAgentSm::natHelperIs(Ert::Ptr<Ip::Nat::Status> natStatus, Ert::Ptr<Ip::Status> ipStatus,
                                VyrNatTableMgr* tableMgr) {
    rebuildUnlessSame(natHelper_, natStatus, ipStatus, tableMgr);
}

void VyrNatAgentSm::omaNatSmIs(const Oma::NatSmInputs& inputs) {
    if (omaNatSm_ && omaNatSm_->builtFrom(inputs)) {
        return;
    }
    omaNatSm_ = Ert::make<Oma::NatSm>(inputs);
}

void VyrNatAgentSm::handleNatStatus() {
    const std::size_t vrfs = natStatus_ ? natStatus_->vrfStatus.size() : 0;
    const std::size_t hwVrfs = natHwStatus_ ? natHwStatus_->vrfStatus.size() : 0;
    VTRACE(th, 5, " #vrfStatus: " << vrfs << " #hwVrfStatus: " << hwVrfs);
    if (vrfs != 0 || hwVrfs != 0) {
        return;
    }
    const auto& caps = parent_->natHwCapabilities();
    if (caps && caps->natHitfullRestart()) {
        VTRACE(th, 0, " resetting nextStartupMode to hitfull");
        if (const auto& startup = parent_->startupStatus()) {
            startup->nextStartupModeIs(kStartupModeHitfull);
        }
        omaNatSmDel();
    }
}

void VyrNatAgentSm::handleNatTcpSynAckRequired() {
    if (!tableMgrsInitialized_) {
        return;
    }
    VTRACE(th, 0,
           "Trap SYN-ACK changed. New value: " << natConfig_->natTcpSynAckRequired()
                                               << ", restarting agent");
    goDown();
}

void VyrNatAgentSm::goDown() {
    if (natHwStatus_) {
        natHwStatus_->intfStatusDelAll();
        natHwStatus_->vrfStatusDelAll();
    }
    parent_->flushEntityLog();
}

Ert::Ptr<VyrNatAgentSm>
vyrNatAgentSmFactory(Ert::Ptr<VyrSystem::SystemStatus> systemStatus, Ert::Ptr<VyrNatSmData> smData,
                     Ert::Ptr<Ip::Nat::Config> natConfig, Ert::Ptr<Ip::Nat::Status> natStatus,
                     Ert::Ptr<Ip::Nat::HwStatus> natHwStatus,
                     Ert::Ptr<Oma::NextHopMapConfig> nhMapConfig,
                     Ert::Ptr<Oma::NextHopMapStatus> nhMapStatus,
                     Ert::Ptr<Ip::Nat::HwNatFlowStatus> hwFlowStatus, VyrNatAgent* agent) {
    return Ert::make<VyrNatAgentSm>(systemStatus, smData, natConfig, natStatus, natHwStatus,
                                    nhMapConfig, nhMapStatus, hwFlowStatus, agent);
}

} // namespace VyrNat
