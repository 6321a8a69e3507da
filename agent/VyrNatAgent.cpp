#include "agent/VyrNatAgent.h"

#include "helper/VyrNatHelper.h"
#include "host/Duolog.h"
#include "host/Ringlog.h"

#include <array>
#include <cstdio>
#include <cstdlib>

namespace VyrNat {

namespace {

Trace::Handle th("VyrNatAgent");

struct MountRequest {
    const char* path;
    const char* typeName;
    const char* flags;
};

// The agent's mounts, in the order they are requested; the command-request directory follows.
constexpr std::array<MountRequest, 17> kMounts = {{
    {"ip/nat/config", "Ip::Nat::Config", "r"},
    {"ip/nat/status", "Ip::Nat::Status", "r"},
    {"ip/nat/hwStatus", "Ip::Nat::HwStatus", "w"},
    {"ip/nat/hwCapabilities", "Ip::Nat::HwCapabilities", "r"},
    {"ip/nat/hwFlowStatus", "Ip::Nat::HwNatFlowStatus", "r"},
    {"hardware/vyr/mbbtables/vyrNat", "VyrMbbShared::TableConfigMountInfo", "w"},
    {"routing/hardware/route/status", "Routing::Hardware::RouteStatus", "r"},
    {"hardware/vyr/meter/natMeter", "VyrSharedState::MeterTableConfig", "w"},
    {"hardware/vyr/nat/config", "VyrNat::Config", "r"},
    {"hardware/vyr/nat/nhMapConfig", "Oma::NextHopMapConfig", "w"},
    {"hardware/vyr/nat/nhMapStatus", "Oma::NextHopMapStatus", "r"},
    {"oma/l3IntfTable", "OmaL3Intf::Table", "r"},
    {"hardware/vyr/nat/nhMapStatusAnchor", "VyrNat::NextHopMapStatus", "r"},
    {"hardware/vyr/mcast", "Ert::Dir", "ri"},
    {"ip/status", "Ip::Status", "ri"},
    {"hardware/vyr/hitBit/config/nat", "VyrSystem::HitBitConfig", "wci"},
    {"hardware/vyr/hitBit/status", "Ert::Dir", "rci"},
}};

constexpr uint32_t kRingSize = 512;
constexpr uint32_t kCounterCollectionSize = 128;

} // namespace

VyrNatAgent::VyrNatAgent(const std::string& name) : VyrAgent(name) {}

VyrNatAgent::~VyrNatAgent() {
    vyrNatSmDataDel();
    cliCallbackDel();
    natAgentSmDel();
}

std::string VyrNatAgent::commandRequestPath() const {
    return rootPath() + "/agent/commandRequest/config/VyrNat";
}

void VyrNatAgent::doInit() {
    if (!std::getenv("RINGLOG_DISABLE")) {
        std::string prefix = "VyrNat";
        if (!std::getenv("RINGLOGDIR")) {
            prefix += "-%d";
        }
        prefix += Ringlog::fileSuffix();
        VTRACE(th, 0, "Ringlog prefix: " << prefix);
        ringlogPrefix_ = prefix;
        std::array<uint32_t, Ringlog::kRings> sizes;
        sizes.fill(kRingSize);
        if (!Ringlog::initialize(prefix, sizes, nullptr, 0, 24, Ringlog::ThreadMode::singleThreaded,
                                 true, 512)) {
            std::fprintf(stderr, "VyrNat: ring trace off: %s\n", Ringlog::lastError().c_str());
        }
    }

    auto group = entityManager()->mountGroup();
    for (const MountRequest& m : kMounts) {
        group->doMount(m.path, m.typeName, m.flags);
    }
    group->doMount(commandRequestPath(), "Ert::Dir", "rci");
    doMountAgentCommon(*group);
    group->doClose(false, "", 0);
}

void VyrNatAgent::doMountsComplete(const Hubdb::MountStatus& status,
                                   Ert::Ptr<Hubdb::EntityManager> em) {
    VYR_ASSERT(status.success);
    VYR_ASSERT(em);
    VTRACE(th, 0, " All mounts completed.");

    mbbTableConfigMountInfo_ =
        em->getEntity<VyrMbbShared::TableConfigMountInfo>("hardware/vyr/mbbtables/vyrNat");
    natConfig_ = em->getEntity<Ip::Nat::Config>("ip/nat/config");
    natStatus_ = em->getEntity<Ip::Nat::Status>("ip/nat/status");
    natHwStatus_ = em->getEntity<Ip::Nat::HwStatus>("ip/nat/hwStatus");
    natHwCapabilities_ = em->getEntity<Ip::Nat::HwCapabilities>("ip/nat/hwCapabilities");
    hwFlowStatus_ = em->getEntity<Ip::Nat::HwNatFlowStatus>("ip/nat/hwFlowStatus");
    routingHwRouteStatus_ =
        em->getEntity<Routing::Hardware::RouteStatus>("routing/hardware/route/status");
    vyrNatConfig_ = em->getEntity<VyrNat::Config>("hardware/vyr/nat/config");
    nhMapConfig_ = em->getEntity<Oma::NextHopMapConfig>("hardware/vyr/nat/nhMapConfig");
    nhMapStatus_ = em->getEntity<Oma::NextHopMapStatus>("hardware/vyr/nat/nhMapStatus");
    omaL3IntfTable_ = em->getEntity<OmaL3Intf::Table>("oma/l3IntfTable");
    vyrMcastConfigDir_ = em->getEntity<Ert::Dir>("hardware/vyr/mcast");
    ipStatus_ = em->getEntity<Ip::Status>("ip/status");

    mountSharedMemoryTables(em);

    hitBitConfig_ = em->getEntity<VyrSystem::HitBitConfig>("hardware/vyr/hitBit/config/nat");
    hitBitStatusDir_ = em->getEntity<Ert::Dir>("hardware/vyr/hitBit/status");

    cliCallbackIs("VyrNat", "VyrNatCli", this);
    commandRequestDirSm()->agentCommandCallbackIs(cliCallback_);

    vyrNatSmDataIs();
    vyrNatSmData_->natMeterConfig.set(
        em->getEntity<VyrSharedState::MeterTableConfig>("hardware/vyr/meter/natMeter"));

    doMountsCompleteAgentCommon(em);
    startupSm()->initializedIs(true);
}

void VyrNatAgent::mountSharedMemoryTables(const Ert::Ptr<Hubdb::EntityManager>&) {
    const uint32_t size = natHwCapabilities_ ? natHwCapabilities_->dynamicConnectionTableSize() : 0;
    if (size == 0) {
        return;
    }
    VTRACE(th, 0, "Mount Mirra dynamic connection status");
    dynamicConnectionStatus_ = Ert::ptrCast<Ip::Nat::DynamicConnectionStatus>(
        mirra()->mount({"ip/nat/status/dynamicConnection",
                        "Ip::Nat::DynamicConnectionStatus",
                        Mirra::Role::reader,
                        {}}));
    VTRACE(th, 0, "Mount Mirra dynamic connection hw status. Table size: " << size);
    dynamicConnectionHwStatus_ = Ert::ptrCast<Ip::Nat::DynamicConnectionHwStatus>(
        mirra()->mount({"ip/nat/hwStatus/dynamicConnection",
                        "Ip::Nat::DynamicConnectionHwStatus",
                        Mirra::Role::writer,
                        {{"dynamicConnectionHw", size}, {"counter", kCounterCollectionSize}}}));
    VTRACE(th, 0, "Mount Pelago connection mapping status");
    const auto& pelago = sharedMemEntityManager();
    auto group = pelago->mountGroup();
    group->doMount("nat/connMapStatus", "Ip::Nat::DynamicConnectionMappingStatus", "r");
    group->doClose(false, "", 0);
    connectionMappingStatus_ =
        pelago->getEntity<Ip::Nat::DynamicConnectionMappingStatus>("nat/connMapStatus");
}

void VyrNatAgent::doStartAgent() {
    VTRACE(th, 0, "doStartAgent");
    natAgentSmIs(systemStatus(), vyrNatSmData_, natConfig_, natStatus_, natHwStatus_, nhMapConfig_,
                 nhMapStatus_, hwFlowStatus_);
    vyrAgentLibHwMgrIs(device(), vyrNatSmData_->profileData());
}

void VyrNatAgent::handleFlushEntityLogComplete() {
    VTRACE(th, 0,
           "VyrNatAgent: "
               << "handleFlushEntityLogComplete");
    exit(0);
}

void VyrNatAgent::natAgentSmIs(Ert::Ptr<VyrSystem::SystemStatus> systemStatus,
                               Ert::Ptr<VyrNatSmData> smData, Ert::Ptr<Ip::Nat::Config> natConfig,
                               Ert::Ptr<Ip::Nat::Status> natStatus,
                               Ert::Ptr<Ip::Nat::HwStatus> natHwStatus,
                               Ert::Ptr<Oma::NextHopMapConfig> nhMapConfig,
                               Ert::Ptr<Oma::NextHopMapStatus> nhMapStatus,
                               Ert::Ptr<Ip::Nat::HwNatFlowStatus> hwFlowStatus) {
    rebuildUnlessSame(natAgentSm_, systemStatus, smData, natConfig, natStatus, natHwStatus,
                      nhMapConfig, nhMapStatus, hwFlowStatus, this);
}

void VyrNatAgent::vyrAgentLibHwMgrIs(std::shared_ptr<VyrP4::Chip> chip,
                                     Ert::Ptr<VyrAgentLib::VyrProfileData> profileData) {
    if (!chip) {
        VTRACE(th, 0, "no chip: the hardware manager is not built");
        return;
    }
    if (vyrAgentLibHwMgr_ && &vyrAgentLibHwMgr_->chip() == chip.get() &&
        vyrAgentLibHwMgr_->profileData() == profileData) {
        return;
    }
    vyrAgentLibHwMgr_ = Ert::make<VyrAgentLib::VyrAgentLibHwMgr>(chip, profileData);
}

void VyrNatAgent::vyrNatSmDataIs() {
    if (!vyrNatSmData_) {
        vyrNatSmData_ = Ert::make<VyrNatSmData>("vyrNatSmData");
    }
}

void VyrNatAgent::cliCallbackIs(const std::string& name, const std::string& path,
                                VyrNatAgent* agent) {
    rebuildUnlessSame(cliCallback_, name, path, static_cast<VyrNatCliAgent*>(agent));
}

void VyrNatAgent::cliCallbackDel() {
    if (cliCallback_ && commandRequestDirSm() &&
        commandRequestDirSm()->agentCommandCallback().get() == cliCallback_.get()) {
        commandRequestDirSm()->agentCommandCallbackIs(nullptr);
    }
    cliCallback_.reset();
}

void VyrNatAgent::vyrNatTableMgrIs(const VyrNatTableMgrInputs& inputs) {
    if (!vyrNatTableMgr_ || !(vyrNatTableMgr_->inputs() == inputs)) {
        vyrNatTableMgr_ = vyrNatTableMgrFactory(inputs);
    }
}

void VyrNatAgent::vyrNatTableMgrDel() {
    vyrNatTableMgr_.reset();
}

NatHelper* VyrNatAgent::cliNatHelper() const {
    return natAgentSm_ ? natAgentSm_->natHelper().get() : nullptr;
}

Oma::NatSm* VyrNatAgent::cliOmaNatSm() const {
    return natAgentSm_ ? natAgentSm_->omaNatSm().get() : nullptr;
}

bool VyrNatAgent::doCheckAgentCleanState() const {
    std::vector<RecordCount> counts;
    if (const NatHelper* helper = cliNatHelper()) {
        counts = helper->recordCounts();
    }
    if (vyrNatTableMgr_) {
        // Managers the profile has no tables for are not in the list.
        for (const auto& mgr : vyrNatTableMgr_->managers()) {
            const auto more = mgr->recordCounts();
            counts.insert(counts.end(), more.begin(), more.end());
        }
    }
    bool clean = true;
    for (const RecordCount& r : counts) {
        if (r.cleanStateChecked && r.count != 0) {
            DUOLOG(th, 0, "%s: %s%s%u", __PRETTY_FUNCTION__, "doCheckAgentCleanState", r.label,
                   r.count);
            clean = false;
        }
    }
    return clean;
}

} // namespace VyrNat

extern "C" VyrAgentLib::VyrAgent* vyrNatAgentFactory(const char* name) {
    return new VyrNat::VyrNatAgent(name ? name : "VyrNat");
}
