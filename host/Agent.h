#pragma once
// The agent host: the agent base class that an agent library derives from, the services the
// host gives it (state database, shared memory, command requests, start-up status, process exit)
// and the runner that drives an agent through its start-up hooks on the event loop.

#include "chip/Chip.h"
#include "host/Entity.h"
#include "host/Hubdb.h"
#include "host/SystemStatus.h"

#include <memory>

#include <cstdint>
#include <optional>
#include <string>

namespace VyrSystem {
class HitBitService;
}

namespace Agent {

// Receives the CLI requests addressed to the agent; replies are written to `fd`. An entity, so
// that what a callback counts can be followed.
class AgentCommandCallback : public Ert::Entity {
public:
    ERT_ENTITY_TYPE("Agent::AgentCommandCallback")
    AgentCommandCallback(std::string name, std::string path)
        : Entity(std::move(name)), path_(std::move(path)) {}
    const std::string& path() const { return path_; }
    virtual void handleCommand(uint32_t fd, const std::string& command) = 0;

private:
    std::string path_;
};

// Delivers command requests to the registered callback.
class AgentCommandRequestDirSm : public Ert::RefCounted {
public:
    void agentCommandCallbackIs(Ert::Ptr<AgentCommandCallback> cb) { callback_ = std::move(cb); }
    const Ert::Ptr<AgentCommandCallback>& agentCommandCallback() const { return callback_; }
    // Runs one request and returns the reply text; nullopt when no callback is registered.
    std::optional<std::string> request(const std::string& command);
    // Runs one request whose reply goes straight to `fd`, the requester's open socket; false when
    // no callback is registered.
    bool request(int fd, const std::string& command);

private:
    Ert::Ptr<AgentCommandCallback> callback_;
};

class StartupStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Agent::StartupStatus")
    Ert::Attr<uint32_t> nextStartupMode{this, "nextStartupMode"};
    void nextStartupModeIs(uint32_t mode) { nextStartupMode.set(mode); }
};

// The start-up state machine; the agent marks itself initialized once its mounts are done.
class StartupSm : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Agent::StartupSm")
    Ert::Attr<bool> initialized{this, "initialized"};
    void initializedIs(bool v) { initialized.set(v); }
};

} // namespace Agent

namespace Host {

// How the process ends; the host tool and tests observe the code instead of exiting.
class ProcessControl {
public:
    virtual ~ProcessControl() = default;
    virtual void exit(int code) = 0;
};

// Records the exit code and stops the current event loop.
class RecordingExit : public ProcessControl {
public:
    void exit(int code) override;
    std::optional<int> code() const { return code_; }

private:
    std::optional<int> code_;
};

// What the host hands its agent before doInit.
struct AgentEnvironment {
    Ert::Ptr<Hubdb::EntityManager> entityManager;
    Ert::Ptr<Pelago::EntityManager> sharedMemEntityManager;
    Ert::Ptr<Mirra::Service> mirra;
    Ert::Ptr<Agent::AgentCommandRequestDirSm> commandRequestDirSm;
    std::string rootPath;
    ProcessControl* process = nullptr;
    // The chip the agent's hardware manager brings tables up on.
    std::shared_ptr<VyrP4::Chip> chip;
};

} // namespace Host

namespace AgentBase {

class CAgent : public Ert::RefCounted {
public:
    explicit CAgent(std::string name) : name_(std::move(name)) {}
    const std::string& name() const { return name_; }

private:
    std::string name_;
};

} // namespace AgentBase

namespace VyrAgentLib {

class VyrAgent : public AgentBase::CAgent {
public:
    explicit VyrAgent(std::string name);
    ~VyrAgent() override;

    // Start-up hooks, called by the host in this order.
    virtual void doInit() {}
    virtual void doMountsComplete(const Hubdb::MountStatus&, Ert::Ptr<Hubdb::EntityManager>) {}
    virtual void doStartAgent() {}
    // Whether the agent released everything it programmed; asked once its configuration is gone.
    virtual bool doCheckAgentCleanState() const { return true; }
    virtual void handleFlushEntityLogComplete() {}

    // Set by the host before doInit.
    void environmentIs(Host::AgentEnvironment env) { env_ = std::move(env); }

    // The base's own mounts, added to the agent's first group, and their completion.
    void doMountAgentCommon(Hubdb::MountGroup& group);
    void doMountsCompleteAgentCommon(const Ert::Ptr<Hubdb::EntityManager>& em);

    // Asks the host to flush the entity log; handleFlushEntityLogComplete() follows on the loop.
    void flushEntityLog();
    void exit(int code);

    const Ert::Ptr<Hubdb::EntityManager>& entityManager() const { return env_.entityManager; }
    const Ert::Ptr<Pelago::EntityManager>& sharedMemEntityManager() const {
        return env_.sharedMemEntityManager;
    }
    const Ert::Ptr<Mirra::Service>& mirra() const { return env_.mirra; }
    const Ert::Ptr<Agent::AgentCommandRequestDirSm>& commandRequestDirSm() const {
        return env_.commandRequestDirSm;
    }
    const std::string& rootPath() const { return env_.rootPath; }
    const std::shared_ptr<VyrP4::Chip>& device() const { return env_.chip; }
    const Ert::Ptr<VyrSystem::SystemStatus>& systemStatus() const { return systemStatus_; }
    const Ert::Ptr<Agent::StartupStatus>& startupStatus() const { return startupStatus_; }
    const Ert::Ptr<Agent::StartupSm>& startupSm() const { return startupSm_; }

    std::string startupStatusPath() const { return "agent/status/startup/" + name(); }
    static constexpr const char* kSystemStatusPath = "sys/status/system";

private:
    Host::AgentEnvironment env_;
    Ert::Ptr<VyrSystem::SystemStatus> systemStatus_;
    Ert::Ptr<Agent::StartupStatus> startupStatus_;
    Ert::Ptr<Agent::StartupSm> startupSm_;
};

} // namespace VyrAgentLib

namespace Host {

// Owns the host side of one agent and drives it: doInit, then, when the agent closes its first
// mount group, doMountsComplete and doStartAgent, each as its own step on the event loop. With a
// chip it also runs the hit-bit service of the NAT client, from the first start on.
class AgentRunner {
public:
    explicit AgentRunner(std::string rootPath = "sysdb");
    ~AgentRunner();

    Hubdb::EntityManager& sysdb() { return *env_.entityManager; }
    AgentEnvironment& environment() { return env_; }
    RecordingExit& process() { return exit_; }

    void start(Ert::Ptr<VyrAgentLib::VyrAgent> agent);
    // Starts `agent` in place of the one that exited, as the host starts an agent's process
    // again: the state database, the shared memory and the chip keep what they hold; the old
    // agent, its mounts, its command callback and its exit code go. Call it off the loop.
    void restart(Ert::Ptr<VyrAgentLib::VyrAgent> agent);
    const Ert::Ptr<VyrAgentLib::VyrAgent>& agent() const { return agent_; }
    bool started() const { return started_; }
    std::optional<Hubdb::MountStatus> mountStatus() const { return mountStatus_; }
    // Null until started with a chip.
    VyrSystem::HitBitService* hitBitService() const { return hitBitService_.get(); }

private:
    AgentEnvironment env_;
    RecordingExit exit_;
    Ert::Ptr<VyrAgentLib::VyrAgent> agent_;
    std::optional<Hubdb::MountStatus> mountStatus_;
    bool started_ = false;
    std::unique_ptr<VyrSystem::HitBitService> hitBitService_;
};

} // namespace Host
