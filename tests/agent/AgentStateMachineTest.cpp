#include "agent/VyrNatAgent.h"
#include "agent/VyrNatAgentSm.h"
#include "tests/agent/AgentTestUtil.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using AgentTest::scenarioWith;
using AgentTest::TraceCapture;
using TestSupport::BootedAgent;

// Published hardware status with one interface and one VRF, as a running agent leaves it.
Ert::Ptr<Ip::Nat::HwStatus> publishHwStatus(BootedAgent& a) {
    auto hw = Ert::make<Ip::Nat::HwStatus>("ip/nat/hwStatus");
    hw->intfStatus.set("Ethernet1", Ert::make<Ip::Nat::HwIntfStatus>("Ethernet1"));
    hw->vrfStatus.set("red", Ert::make<Ip::Nat::HwVrfStatus>("red"));
    a.sysdb().entityIs("ip/nat/hwStatus", hw);
    return hw;
}

// Attaching to a configuration that already traps SYN-ACK, or setting it again, is no change;
// before the table managers exist, a change does nothing either.
TEST(AgentStateMachine, SynAckChangeOnceRunningRestartsThroughTheCleanExit) {
    for (const bool running : {false, true}) {
        SCOPED_TRACE(running ? "running" : "no table managers");
        Scenario::Scenario s = scenarioWith("default");
        s.natConfig.natTcpSynAckRequired = true;
        BootedAgent a(s);
        if (!running) {
            a.runner.environment().chip = nullptr; // no hardware manager: no profile entry comes
        }
        auto hw = publishHwStatus(a);
        TraceCapture trace;
        a.boot();
        ASSERT_EQ(a.agent->natAgentSm()->tableMgrsInitialized(), running);
        const auto config = a.sysdb().getEntity<Ip::Nat::Config>("ip/nat/config");
        config->natTcpSynAckRequired.set(true);
        a.loop.runPending();
        EXPECT_FALSE(a.runner.process().code());

        config->natTcpSynAckRequired.set(false);
        a.loop.runPending();
        EXPECT_EQ(a.runner.process().code(), running ? std::optional<int>(0) : std::nullopt);
        EXPECT_EQ(hw->intfStatus.size() + hw->vrfStatus.size(), running ? 0u : 2u);
        EXPECT_EQ(trace.has("Trap SYN-ACK changed"), running) << trace.text();
    }
}

TEST(AgentStateMachine, ProfileWithoutNatGoesDownThroughTheCleanExit) {
    BootedAgent a(scenarioWith("noNat"));
    auto hw = publishHwStatus(a);
    a.boot();
    EXPECT_EQ(a.runner.process().code(), 0);
    EXPECT_TRUE(hw->intfStatus.empty());
    EXPECT_TRUE(hw->vrfStatus.empty());
    EXPECT_EQ(a.owner(), nullptr);
    EXPECT_FALSE(a.agent->natAgentSm()->tableMgrsInitialized());
    EXPECT_TRUE(a.chip->tables().empty());
}

TEST(AgentStateMachine, NatUnconfiguredAsksForAHitfullStartOnlyWithTheRestartFlag) {
    for (bool restartFlag : {true, false}) {
        SCOPED_TRACE(restartFlag ? "restart flag set" : "restart flag clear");
        Scenario::Scenario s = scenarioWith("default");
        s.hwCapabilities.natHitfullRestart = restartFlag;
        BootedAgent a(s);
        auto status = Ert::make<Ip::Nat::Status>("ip/nat/status");
        status->vrfStatus.set("red", Ert::make<Ip::Nat::VrfStatus>("red"));
        status->vrfStatus.set("blue", Ert::make<Ip::Nat::VrfStatus>("blue"));
        a.sysdb().entityIs("ip/nat/status", status);
        // A VRF left in the hardware status by an earlier run; the NAT state machine never
        // programmed it, so only the test removes it.
        auto hw = Ert::make<Ip::Nat::HwStatus>("ip/nat/hwStatus");
        hw->vrfStatus.set("stale", Ert::make<Ip::Nat::HwVrfStatus>("stale"));
        a.sysdb().entityIs("ip/nat/hwStatus", hw);
        a.boot();
        const auto& startup = a.agent->startupStatus();
        ASSERT_NE(startup, nullptr);

        // Either side still holding a VRF keeps the next start as it is.
        status->vrfStatus.erase("red");
        a.loop.runPending();
        EXPECT_EQ(startup->nextStartupMode(), 0u);
        status->vrfStatus.erase("blue");
        a.loop.runPending();
        EXPECT_EQ(startup->nextStartupMode(), 0u) << "the hardware status still holds a VRF";
        EXPECT_NE(a.agent->natAgentSm()->omaNatSm(), nullptr);

        hw->vrfStatus.erase("stale");
        a.loop.runPending();
        EXPECT_EQ(startup->nextStartupMode(), restartFlag ? 3u : 0u);
        // Unconfigured NAT with the restart flag drops the NAT state machine.
        EXPECT_EQ(a.agent->natAgentSm()->omaNatSm() == nullptr, restartFlag);
        EXPECT_FALSE(a.runner.process().code());
    }
}

TEST(AgentStateMachine, OnlyTheFirstProfileEntryBuildsTheOwner) {
    BootedAgent a(scenarioWith("default"));
    a.boot();
    const auto owner = a.agent->vyrNatTableMgr();
    ASSERT_NE(owner, nullptr);
    const auto& sm = *a.agent->natAgentSm();
    const auto& profileData = a.agent->vyrNatSmData()->profileData();
    const VyrDriver::VyrDevProfile first{"default"};
    const VyrDriver::VyrDevProfile second{"partitioned"};
    ASSERT_TRUE(sm.vyrNatProfileDataEntryHas(first));
    const std::size_t tables = a.chip->tables().size();

    auto entry = Ert::make<VyrAgentLib::VyrProfileDataEntry>("partitioned", second);
    profileData->entry.set(second, entry);
    a.loop.runPending();
    EXPECT_TRUE(sm.vyrNatProfileDataEntryHas(second));
    EXPECT_EQ(a.agent->vyrNatTableMgr(), owner);
    EXPECT_TRUE(entry->hwTables.empty());
    EXPECT_EQ(a.chip->tables().size(), tables);

    // A removed entry loses its reactor; the owner stays.
    profileData->entry.erase(second);
    profileData->entry.erase(first);
    a.loop.runPending();
    EXPECT_FALSE(sm.vyrNatProfileDataEntryHas(second));
    EXPECT_FALSE(sm.vyrNatProfileDataEntryHas(first));
    EXPECT_EQ(a.agent->vyrNatTableMgr(), owner);
    EXPECT_FALSE(a.runner.process().code());
}

} // namespace
