#include "host/Agent.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

class Config : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Test::AgentConfig")
};

// Records the order of the hooks and answers commands.
class TestAgent : public VyrAgentLib::VyrAgent {
public:
    explicit TestAgent(std::vector<std::string>& log) : VyrAgent("Test"), log_(log) {}

    void doInit() override {
        log_.push_back("doInit");
        auto group = entityManager()->mountGroup();
        group->doMount("test/config", "Test::AgentConfig", "r");
        doMountAgentCommon(*group);
        group->doClose(false, "", 0);
    }
    void doMountsComplete(const Hubdb::MountStatus& status,
                          Ert::Ptr<Hubdb::EntityManager> em) override {
        log_.push_back(std::string("doMountsComplete ") + (status.success ? "ok" : status.error));
        config = em->getEntity<Config>("test/config");
        doMountsCompleteAgentCommon(em);
        startupSm()->initializedIs(true);
    }
    void doStartAgent() override { log_.push_back("doStartAgent"); }
    void handleFlushEntityLogComplete() override {
        log_.push_back("flushed");
        exit(0);
    }

    Ert::Ptr<Config> config;

private:
    std::vector<std::string>& log_;
};

class Echo : public Agent::AgentCommandCallback {
public:
    Echo() : AgentCommandCallback("Test", "TestCli") {}
    void handleCommand(uint32_t fd, const std::string& command) override {
        for (int i = 0; i < 2000; ++i) { // larger than a pipe buffer
            dprintf(static_cast<int>(fd), "%04d %s\n", i, command.c_str());
        }
    }
};

TEST(AgentRunner, DrivesTheHooksInOrderOnTheLoopAndExitsAfterTheFlush) {
    Hubdb::registerEntityType<Config>();
    Tasking::EventLoop loop;
    Host::AgentRunner runner;
    std::vector<std::string> log;
    auto agent = Ert::make<TestAgent>(log);
    runner.start(agent);
    EXPECT_TRUE(log.empty());

    loop.runPending();
    EXPECT_EQ(log, (std::vector<std::string>{"doInit", "doMountsComplete ok", "doStartAgent"}));
    EXPECT_TRUE(runner.started());
    EXPECT_NE(agent->config, nullptr);
    EXPECT_NE(agent->startupStatus(), nullptr);

    agent->flushEntityLog();
    EXPECT_FALSE(runner.process().code());
    loop.runUntilStopped(Tasking::seconds(10));
    EXPECT_EQ(log.back(), "flushed");
    EXPECT_EQ(runner.process().code(), 0);
    EXPECT_TRUE(loop.stopped());
}

TEST(AgentCommandRequests, RepliesReachTheCallerWholeAndNoCallbackIsReported) {
    Agent::AgentCommandRequestDirSm dir;
    EXPECT_FALSE(dir.request("showNatSummary"));
    dir.agentCommandCallbackIs(Ert::make<Echo>());
    auto reply = dir.request("showNatStatic");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->size(), 2000u * std::string("0000 showNatStatic\n").size());
    EXPECT_EQ(reply->substr(reply->size() - 19), "1999 showNatStatic\n");
}

} // namespace
