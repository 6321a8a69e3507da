#include "agent/VyrNatAgent.h"
#include "cli/VyrNatAgentCli.h"
#include "host/Ringlog.h"
#include "tables/static/VyrNatTableMgrStatic.h"
#include "tests/agent/AgentTestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

using AgentTest::EnvVar;
using AgentTest::scenarioWith;
using AgentTest::TempDir;
using AgentTest::TraceCapture;
using TestSupport::BootedAgent;
namespace fs = std::filesystem;

std::vector<std::string> text(const std::vector<Hubdb::Mount>& mounts) {
    std::vector<std::string> out;
    for (const auto& m : mounts) {
        out.push_back(m.path + " " + m.typeName + " " + m.flags);
    }
    return out;
}

TEST(AgentStartup, MountsTheAgentsStateInOrderThenTheBaseMountsAndFetchesIt) {
    BootedAgent a(scenarioWith("default"));
    auto nhMapConfig = Ert::make<Oma::NextHopMapConfig>("hardware/vyr/nat/nhMapConfig");
    nhMapConfig->routeResolverRequest.set(Ip::Prefix{}, true);
    a.sysdb().entityIs("hardware/vyr/nat/nhMapConfig", nhMapConfig);
    a.boot();

    ASSERT_TRUE(a.runner.mountStatus());
    EXPECT_TRUE(a.runner.mountStatus()->success) << a.runner.mountStatus()->error;
    const std::vector<std::string> expected = {
        "ip/nat/config Ip::Nat::Config r",
        "ip/nat/status Ip::Nat::Status r",
        "ip/nat/hwStatus Ip::Nat::HwStatus w",
        "ip/nat/hwCapabilities Ip::Nat::HwCapabilities r",
        "ip/nat/hwFlowStatus Ip::Nat::HwNatFlowStatus r",
        "hardware/vyr/mbbtables/vyrNat VyrMbbShared::TableConfigMountInfo w",
        "routing/hardware/route/status Routing::Hardware::RouteStatus r",
        "hardware/vyr/meter/natMeter VyrSharedState::MeterTableConfig w",
        "hardware/vyr/nat/config VyrNat::Config r",
        "hardware/vyr/nat/nhMapConfig Oma::NextHopMapConfig w",
        "hardware/vyr/nat/nhMapStatus Oma::NextHopMapStatus r",
        "oma/l3IntfTable OmaL3Intf::Table r",
        "hardware/vyr/nat/nhMapStatusAnchor VyrNat::NextHopMapStatus r",
        "hardware/vyr/mcast Ert::Dir ri",
        "ip/status Ip::Status ri",
        "hardware/vyr/hitBit/config/nat VyrSystem::HitBitConfig wci",
        "hardware/vyr/hitBit/status Ert::Dir rci",
        "sysdb/agent/commandRequest/config/VyrNat Ert::Dir rci",
        // the agent base's own
        "sys/status/system VyrSystem::SystemStatus r",
        "agent/status/startup/VyrNat Agent::StartupStatus w",
    };
    EXPECT_EQ(text(a.sysdb().mounts()), expected);

    // Each attribute holds the entity mounted at its path.
    auto& db = a.sysdb();
    const auto& ag = *a.agent;
    const std::vector<std::pair<const Ert::Entity*, const char*>> attributes = {
        {ag.mbbTableConfigMountInfo().get(), "hardware/vyr/mbbtables/vyrNat"},
        {ag.natConfig().get(), "ip/nat/config"},
        {ag.natStatus().get(), "ip/nat/status"},
        {ag.natHwStatus().get(), "ip/nat/hwStatus"},
        {ag.natHwCapabilities().get(), "ip/nat/hwCapabilities"},
        {ag.hwFlowStatus().get(), "ip/nat/hwFlowStatus"},
        {ag.routingHwRouteStatus().get(), "routing/hardware/route/status"},
        {ag.vyrNatConfig().get(), "hardware/vyr/nat/config"},
        {ag.nhMapConfig().get(), "hardware/vyr/nat/nhMapConfig"},
        {ag.nhMapStatus().get(), "hardware/vyr/nat/nhMapStatus"},
        {ag.omaL3IntfTable().get(), "oma/l3IntfTable"},
        {ag.vyrMcastConfigDir().get(), "hardware/vyr/mcast"},
        {ag.ipStatus().get(), "ip/status"},
        {ag.hitBitConfig().get(), "hardware/vyr/hitBit/config/nat"},
        {ag.hitBitStatusDir().get(), "hardware/vyr/hitBit/status"},
    };
    for (const auto& [entity, path] : attributes) {
        EXPECT_NE(entity, nullptr) << path;
        EXPECT_EQ(entity, db.getEntity(path).get()) << path;
    }
    EXPECT_EQ(ag.nhMapConfig(), nhMapConfig);
    ASSERT_NE(ag.vyrNatSmData(), nullptr);
    EXPECT_EQ(ag.vyrNatSmData()->natMeterConfig().get(),
              db.getEntity("hardware/vyr/meter/natMeter").get());
    EXPECT_TRUE(ag.vyrNatSmData()->initialized());
    EXPECT_NE(ag.vyrNatSmData()->profileData(), nullptr);
    ASSERT_NE(ag.startupSm(), nullptr);
    EXPECT_TRUE(ag.startupSm()->initialized());

    // The CLI callback is the one registered with the command-request directory.
    ASSERT_NE(ag.cliCallback(), nullptr);
    EXPECT_EQ(a.runner.environment().commandRequestDirSm->agentCommandCallback().get(),
              ag.cliCallback().get());
    EXPECT_EQ(ag.cliCallback()->name(), "VyrNat");
    EXPECT_EQ(ag.cliCallback()->path(), "VyrNatCli");

    // The state machine starts with no route resolution left over, at the system's time.
    EXPECT_TRUE(nhMapConfig->routeResolverRequest.empty());
    EXPECT_EQ(nhMapConfig->systemGenTime(), 1u);
    ASSERT_NE(ag.natAgentSm(), nullptr);
    EXPECT_TRUE(ag.natAgentSm()->initialized());
    EXPECT_NE(ag.natAgentSm()->acsd(), nullptr);
    EXPECT_NE(ag.natAgentSm()->staticNatInfo(), nullptr);
}

TEST(AgentStartup, RinglogDisableOpensNoRingFileButMountsAllTheSame) {
    TempDir dir;
    EnvVar disable("RINGLOG_DISABLE", "1");
    EnvVar ringDir("RINGLOGDIR", dir.path().c_str());
    Ringlog::close();
    TraceCapture trace;
    BootedAgent a(scenarioWith("default"));
    a.boot();

    EXPECT_FALSE(Ringlog::enabled());
    EXPECT_TRUE(fs::is_empty(dir.path()));
    EXPECT_FALSE(trace.has(Ringlog::fileSuffix())) << trace.text();
    EXPECT_EQ(a.sysdb().mounts().size(), 20u);
    EXPECT_NE(a.owner(), nullptr);
}

TEST(AgentStartup, RingFileNameCarriesTheProcessIdOnlyWithoutRinglogDir) {
    EnvVar enable("RINGLOG_DISABLE", nullptr);
    const std::string suffix = Ringlog::fileSuffix();
    {
        TempDir dir;
        EnvVar ringDir("RINGLOGDIR", dir.path().c_str());
        TraceCapture trace;
        BootedAgent a(scenarioWith("default"));
        a.boot();
        ASSERT_TRUE(Ringlog::enabled()) << Ringlog::lastError();
        EXPECT_EQ(Ringlog::path(), dir.path() + "/VyrNat" + suffix);
        EXPECT_TRUE(fs::exists(dir.path() + "/VyrNat" + suffix));
        EXPECT_TRUE(trace.has("VyrNat" + suffix)) << trace.text();
        Ringlog::close();
    }
    {
        EnvVar ringDir("RINGLOGDIR", nullptr);
        TraceCapture trace;
        BootedAgent a(scenarioWith("default"));
        a.boot();
        ASSERT_TRUE(Ringlog::enabled()) << Ringlog::lastError();
        const std::string file = "/tmp/VyrNat-" + std::to_string(::getpid()) + suffix;
        EXPECT_EQ(Ringlog::path(), file);
        EXPECT_TRUE(fs::exists(file));
        EXPECT_TRUE(trace.has("VyrNat-%d" + suffix)) << trace.text();
        Ringlog::close();
        fs::remove(file);
    }
}

TEST(AgentStartup, SharedMemoryTablesAreMountedOnlyWithADynamicConnectionTableSize) {
    {
        BootedAgent a(scenarioWith("default"));
        a.boot();
        EXPECT_TRUE(a.runner.environment().mirra->mounts().empty());
        EXPECT_TRUE(a.runner.environment().sharedMemEntityManager->mounts().empty());
        EXPECT_EQ(a.agent->dynamicConnectionStatus(), nullptr);
        EXPECT_EQ(a.agent->dynamicConnectionHwStatus(), nullptr);
        EXPECT_EQ(a.agent->connectionMappingStatus(), nullptr);
        // The rest of the start-up goes on.
        EXPECT_NE(a.agent->hitBitConfig(), nullptr);
        EXPECT_NE(a.owner(), nullptr);
    }
    {
        Scenario::Scenario s = scenarioWith("default");
        s.hwCapabilities.dynamicConnectionTableSize = 16384;
        BootedAgent a(s);
        a.boot();
        const auto& mirra = *a.runner.environment().mirra;
        ASSERT_EQ(mirra.mounts().size(), 2u);
        const Mirra::MountDesc& status = mirra.mounts()[0];
        EXPECT_EQ(status.path, "ip/nat/status/dynamicConnection");
        EXPECT_EQ(status.typeName, "Ip::Nat::DynamicConnectionStatus");
        EXPECT_EQ(status.role, Mirra::Role::reader);
        const Mirra::MountDesc& hw = mirra.mounts()[1];
        EXPECT_EQ(hw.path, "ip/nat/hwStatus/dynamicConnection");
        EXPECT_EQ(hw.typeName, "Ip::Nat::DynamicConnectionHwStatus");
        EXPECT_EQ(hw.role, Mirra::Role::writer);
        const std::vector<std::pair<std::string, uint32_t>> sizes = {{"dynamicConnectionHw", 16384},
                                                                     {"counter", 128}};
        EXPECT_EQ(hw.collectionSizes, sizes);

        EXPECT_EQ(text(a.runner.environment().sharedMemEntityManager->mounts()),
                  std::vector<std::string>{
                      "nat/connMapStatus Ip::Nat::DynamicConnectionMappingStatus r"});
        EXPECT_NE(a.agent->dynamicConnectionStatus(), nullptr);
        EXPECT_NE(a.agent->dynamicConnectionHwStatus(), nullptr);
        EXPECT_NE(a.agent->connectionMappingStatus(), nullptr);
        EXPECT_NE(a.owner(), nullptr);
    }
}

TEST(AgentStartup, SettersKeepAnObjectBuiltFromTheSameArgumentsAndReplaceItOtherwise) {
    BootedAgent a(scenarioWith("default"));
    a.boot();
    VyrNat::VyrNatAgent& ag = *a.agent;
    const auto sm = ag.natAgentSm();
    const auto owner = ag.vyrNatTableMgr();
    const auto cli = ag.cliCallback();
    const auto smData = ag.vyrNatSmData();
    const auto hwMgr = ag.vyrAgentLibHwMgr();
    ASSERT_TRUE(sm && owner && cli && smData && hwMgr);

    auto natAgentSmWith = [&](Ert::Ptr<Ip::Nat::HwNatFlowStatus> hwFlowStatus) {
        ag.natAgentSmIs(ag.systemStatus(), ag.vyrNatSmData(), ag.natConfig(), ag.natStatus(),
                        ag.natHwStatus(), ag.nhMapConfig(), ag.nhMapStatus(), hwFlowStatus);
    };
    natAgentSmWith(ag.hwFlowStatus());
    ag.vyrNatTableMgrIs(owner->inputs());
    ag.cliCallbackIs("VyrNat", "VyrNatCli", &ag);
    ag.vyrNatSmDataIs();
    ag.vyrAgentLibHwMgrIs(a.chip, smData->profileData());
    a.loop.runPending();
    EXPECT_EQ(ag.natAgentSm(), sm);
    EXPECT_EQ(ag.vyrNatTableMgr(), owner);
    EXPECT_EQ(ag.cliCallback(), cli);
    EXPECT_EQ(ag.vyrNatSmData(), smData);
    EXPECT_EQ(ag.vyrAgentLibHwMgr(), hwMgr);
    EXPECT_EQ(a.chip->tables().size(), 8u);

    // Another argument builds a new object. A new state machine finds the profile entry and
    // asks for an owner built from the same arguments, so the owner stays.
    natAgentSmWith(nullptr);
    a.loop.runPending();
    ASSERT_NE(ag.natAgentSm(), sm);
    EXPECT_TRUE(ag.natAgentSm()->tableMgrsInitialized());
    EXPECT_TRUE(ag.natAgentSm()->started());
    EXPECT_EQ(ag.vyrNatTableMgr(), owner);

    ag.cliCallbackIs("VyrNat", "OtherCli", &ag);
    ASSERT_NE(ag.cliCallback(), cli);
    EXPECT_EQ(ag.cliCallback()->path(), "OtherCli");

    auto inputs = owner->inputs();
    inputs.natDpdk = !inputs.natDpdk;
    ag.vyrNatTableMgrIs(inputs);
    a.loop.runPending();
    ASSERT_NE(ag.vyrNatTableMgr(), owner);
    EXPECT_EQ(ag.vyrNatTableMgr()->natDpdk(), inputs.natDpdk);
    EXPECT_EQ(ag.vyrNatTableMgr()->pendingTableCount(), 0u);
    EXPECT_NE(ag.vyrNatTableMgr()->tableMgrStatic()->addrOnlySnatTable(), nullptr);
}

TEST(AgentCli, AnswersNotInitializedUntilTheOwnerExists) {
    {
        BootedAgent a(scenarioWith("default"));
        a.runner.environment().chip = nullptr; // no hardware manager, so no owner
        a.boot();
        ASSERT_EQ(a.owner(), nullptr);
        auto reply = a.runner.environment().commandRequestDirSm->request("showNatSummary");
        ASSERT_TRUE(reply);
        EXPECT_EQ(*reply, "Agent not initialized yet");
    }
    {
        BootedAgent a(scenarioWith("vrfNatHop"));
        a.boot();
        ASSERT_NE(a.owner(), nullptr);
        auto reply = a.runner.environment().commandRequestDirSm->request("showNatSummary");
        ASSERT_TRUE(reply);
        EXPECT_EQ(*reply, "Command not supported in this profile");
    }
}

} // namespace
