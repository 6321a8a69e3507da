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

std::vector<std::string> text(const std::vector<Mirra::MountDesc>& mounts) {
    std::vector<std::string> out;
    for (const auto& m : mounts) {
        out.push_back(m.path + " " + m.typeName + (m.role == Mirra::Role::reader ? " r" : " w"));
        for (const auto& [collection, size] : m.collectionSizes) {
            out.back() += " " + collection + "=" + std::to_string(size);
        }
    }
    return out;
}

// The shared-memory connection tables come only with a dynamic connection table size.
TEST(AgentStartup, MountsItsStateInOrderThenTheBaseMountsAndFetchesEachEntity) {
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
    const std::vector<std::string> none;
    const std::vector<std::string> sharedMemory = {
        "ip/nat/status/dynamicConnection Ip::Nat::DynamicConnectionStatus r",
        "ip/nat/hwStatus/dynamicConnection Ip::Nat::DynamicConnectionHwStatus w "
        "dynamicConnectionHw=16384 counter=128"};
    const std::vector<std::string> mapping = {
        "nat/connMapStatus Ip::Nat::DynamicConnectionMappingStatus r"};
    for (const uint32_t connections : {0u, 16384u}) {
        SCOPED_TRACE(std::to_string(connections) + " connections");
        Scenario::Scenario s = scenarioWith("default");
        s.hwCapabilities.dynamicConnectionTableSize = connections;
        BootedAgent a(s);
        auto nhMapConfig = Ert::make<Oma::NextHopMapConfig>("hardware/vyr/nat/nhMapConfig");
        nhMapConfig->routeResolverRequest.set(Ip::Prefix{}, true);
        a.sysdb().entityIs("hardware/vyr/nat/nhMapConfig", nhMapConfig);
        a.boot();
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
            EXPECT_TRUE(entity && entity == db.getEntity(path).get()) << path;
        }
        ASSERT_NE(ag.vyrNatSmData(), nullptr);
        EXPECT_EQ(ag.vyrNatSmData()->natMeterConfig().get(),
                  db.getEntity("hardware/vyr/meter/natMeter").get());
        EXPECT_TRUE(ag.vyrNatSmData()->initialized());
        EXPECT_NE(ag.vyrNatSmData()->profileData(), nullptr);
        ASSERT_NE(ag.startupSm(), nullptr);
        EXPECT_TRUE(ag.startupSm()->initialized());

        const auto& env = a.runner.environment();
        // Then the hit-bit tables, read by the dynamic and the twice-NAT hit-bit machines.
        auto mirraMounts = connections ? sharedMemory : none;
        mirraMounts.insert(mirraMounts.end(), 2,
                           "hardware/vyr/hitBit/table/pipe0 VyrSystem::HitBitTable r");
        EXPECT_EQ(text(env.mirra->mounts()), mirraMounts);
        EXPECT_EQ(text(env.sharedMemEntityManager->mounts()), connections ? mapping : none);
        EXPECT_EQ(ag.dynamicConnectionStatus() != nullptr, connections != 0);
        EXPECT_EQ(ag.dynamicConnectionHwStatus() != nullptr, connections != 0);
        EXPECT_EQ(ag.connectionMappingStatus() != nullptr, connections != 0);

        // The CLI callback is the one registered with the command-request directory.
        ASSERT_NE(ag.cliCallback(), nullptr);
        EXPECT_EQ(env.commandRequestDirSm->agentCommandCallback().get(), ag.cliCallback().get());
        EXPECT_EQ(ag.cliCallback()->name(), "VyrNat");
        EXPECT_EQ(ag.cliCallback()->path(), "VyrNatCli");

        // The state machine starts with no route resolution left over, at the system's time.
        EXPECT_TRUE(nhMapConfig->routeResolverRequest.empty());
        EXPECT_EQ(nhMapConfig->systemGenTime(), 1u);
        ASSERT_NE(ag.natAgentSm(), nullptr);
        EXPECT_TRUE(ag.natAgentSm()->initialized());
        EXPECT_NE(ag.natAgentSm()->acsd(), nullptr);
        EXPECT_NE(ag.natAgentSm()->staticNatInfo(), nullptr);
        EXPECT_NE(a.owner(), nullptr);
    }
}

// The ring file goes into RINGLOGDIR, or into /tmp with the process id in its name; with
// RINGLOG_DISABLE there is none.
TEST(AgentStartup, RingFileIsPlacedAndNamedByTheEnvironment) {
    const std::string dir =
        fs::temp_directory_path() / ("vyrnat-ring-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string suffix = Ringlog::fileSuffix();
    const std::string inTmp = "/tmp/VyrNat-" + std::to_string(::getpid()) + suffix;
    struct Case {
        const char* disable;
        const char* ringDir;
        std::string file;
        std::string prefix;
    };
    for (const Case& c :
         std::vector<Case>{{"1", dir.c_str(), "", ""},
                           {nullptr, dir.c_str(), dir + "/VyrNat" + suffix, "VyrNat" + suffix},
                           {nullptr, nullptr, inTmp, "VyrNat-%d" + suffix}}) {
        SCOPED_TRACE(c.file);
        EnvVar disable("RINGLOG_DISABLE", c.disable);
        EnvVar ringDir("RINGLOGDIR", c.ringDir);
        Ringlog::close();
        TraceCapture trace;
        BootedAgent a(scenarioWith("default"));
        a.boot();
        EXPECT_EQ(Ringlog::enabled(), !c.file.empty()) << Ringlog::lastError();
        if (c.file.empty()) {
            EXPECT_TRUE(fs::is_empty(dir));
        } else {
            EXPECT_EQ(Ringlog::path(), c.file);
            EXPECT_TRUE(fs::exists(c.file));
        }
        EXPECT_EQ(trace.has("Ringlog prefix: " + c.prefix), !c.file.empty()) << trace.text();
    }
    Ringlog::close();
    fs::remove(inTmp);
    fs::remove_all(dir);
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

    // Another argument builds a new object. A new state machine finds the profile entry and
    // asks for an owner built from the same arguments, so the owner stays.
    natAgentSmWith(nullptr);
    a.loop.runPending();
    ASSERT_NE(ag.natAgentSm(), sm);
    EXPECT_TRUE(ag.natAgentSm()->started());
    EXPECT_EQ(ag.vyrNatTableMgr(), owner);

    ag.cliCallbackIs("VyrNat", "OtherCli", &ag);
    ASSERT_NE(ag.cliCallback(), cli);

    auto inputs = owner->inputs();
    inputs.natDpdk = !inputs.natDpdk;
    ag.vyrNatTableMgrIs(inputs);
    a.loop.runPending();
    ASSERT_NE(ag.vyrNatTableMgr(), owner);
    EXPECT_EQ(ag.vyrNatTableMgr()->pendingTableCount(), 0u);
    EXPECT_NE(ag.vyrNatTableMgr()->tableMgrStatic()->addrOnlySnatTable(), nullptr);
}

TEST(AgentCli, AnswersNotInitializedUntilTheOwnerExists) {
    for (const auto& [profile, chip, says] :
         std::vector<std::tuple<std::string, bool, std::string>>{
             {"default", false, "Agent not initialized yet"},
             {"vrfNatHop", true, "Command not supported in this profile"}}) {
        BootedAgent a(scenarioWith(profile));
        if (!chip) {
            a.runner.environment().chip = nullptr; // no hardware manager, so no owner
        }
        a.boot();
        EXPECT_EQ(a.owner() != nullptr, chip);
        EXPECT_EQ(a.runner.environment().commandRequestDirSm->request("showNatSummary"), says);
    }
}

} // namespace
