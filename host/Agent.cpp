#include "host/Agent.h"

#include "host/Assert.h"
#include "host/EventLoop.h"
#include "host/HitBitService.h"
#include "host/Trace.h"

#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

namespace Agent {

std::optional<std::string> AgentCommandRequestDirSm::request(const std::string& command) {
    if (!callback_) {
        return std::nullopt;
    }
    // A memory file stands in for the request's socket: replies of any size fit without a reader.
    int fd = ::memfd_create("vyr-command", MFD_CLOEXEC);
    VYR_ASSERT(fd >= 0);
    callback_->handleCommand(static_cast<uint32_t>(fd), command);
    std::string reply;
    ::lseek(fd, 0, SEEK_SET);
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) {
        reply.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return reply;
}

bool AgentCommandRequestDirSm::request(int fd, const std::string& command) {
    if (!callback_) {
        return false;
    }
    callback_->handleCommand(static_cast<uint32_t>(fd), command);
    return true;
}

} // namespace Agent

namespace Host {

void RecordingExit::exit(int code) {
    code_ = code;
    if (auto* loop = Tasking::EventLoop::currentOrNull()) {
        loop->stop();
    }
}

} // namespace Host

namespace VyrAgentLib {

VyrAgent::VyrAgent(std::string name) : AgentBase::CAgent(std::move(name)) {}

VyrAgent::~VyrAgent() {
    if (auto* loop = Tasking::EventLoop::currentOrNull()) {
        loop->cancel(this);
    }
}

void VyrAgent::doMountAgentCommon(Hubdb::MountGroup& group) {
    group.doMount(kSystemStatusPath, VyrSystem::SystemStatus::kTypeName, "r");
    group.doMount(startupStatusPath(), Agent::StartupStatus::kTypeName, "w");
}

void VyrAgent::doMountsCompleteAgentCommon(const Ert::Ptr<Hubdb::EntityManager>& em) {
    systemStatus_ = em->getEntity<VyrSystem::SystemStatus>(kSystemStatusPath);
    startupStatus_ = em->getEntity<Agent::StartupStatus>(startupStatusPath());
    startupSm_ = Ert::make<Agent::StartupSm>(name() + "-startupSm");
}

void VyrAgent::flushEntityLog() {
    Tasking::EventLoop::current().post(this, [this] { handleFlushEntityLogComplete(); });
}

void VyrAgent::exit(int code) {
    if (env_.process) {
        env_.process->exit(code);
    } else {
        std::exit(code);
    }
}

} // namespace VyrAgentLib

namespace Host {

namespace {
[[maybe_unused]] const bool typesRegistered = [] {
    Hubdb::registerEntityType<Agent::StartupStatus>();
    Hubdb::registerEntityType<VyrSystem::SystemStatus>();
    return true;
}();
} // namespace

AgentRunner::AgentRunner(std::string rootPath) {
    env_.entityManager = Ert::make<Hubdb::EntityManager>("sysdb");
    env_.sharedMemEntityManager = Ert::make<Pelago::EntityManager>("pelago");
    env_.mirra = Ert::make<Mirra::Service>();
    env_.commandRequestDirSm = Ert::make<Agent::AgentCommandRequestDirSm>();
    env_.rootPath = std::move(rootPath);
    env_.process = &exit_;
}

AgentRunner::~AgentRunner() {
    if (auto* loop = Tasking::EventLoop::currentOrNull()) {
        loop->cancel(this);
    }
}

void AgentRunner::restart(Ert::Ptr<VyrAgentLib::VyrAgent> agent) {
    if (auto* loop = Tasking::EventLoop::currentOrNull()) {
        loop->cancel(this);
    }
    agent_ = nullptr;
    env_.entityManager->connectionReset();
    env_.sharedMemEntityManager->connectionReset();
    env_.commandRequestDirSm->agentCommandCallbackIs(nullptr);
    exit_ = RecordingExit();
    mountStatus_.reset();
    started_ = false;
    start(std::move(agent));
}

void AgentRunner::start(Ert::Ptr<VyrAgentLib::VyrAgent> agent) {
    VYR_ASSERT(!agent_);
    // The agent's library is loaded by now, so every trace handle it has is registered.
    Trace::reportUnmatched();
    agent_ = std::move(agent);
    if (env_.chip && !hitBitService_) {
        hitBitService_ = VyrSystem::hitBitServiceIs(*env_.entityManager, env_.mirra->store(),
                                                    env_.chip, VyrSystem::kNatHitBitClient);
    }
    agent_->environmentIs(env_);
    env_.entityManager->mountsCompleteHandlerIs([this](const Hubdb::MountStatus& status) {
        mountStatus_ = status;
        agent_->doMountsComplete(status, env_.entityManager);
        Tasking::EventLoop::current().post(this, [this] {
            agent_->doStartAgent();
            started_ = true;
        });
    });
    Tasking::EventLoop::current().post(this, [this] { agent_->doInit(); });
}

} // namespace Host
