#include "cli/VyrNatAgentCli.h"

#include "host/Trace.h"
#include "tables/VyrNatTableMgr.h"

#include <cstdio>
#include <sys/socket.h>

namespace VyrNat {

namespace {
Trace::Handle th("VyrNatAgent");
// Replies can be long; the request socket gets room for them.
constexpr int kSendBufferBytes = 20971520;
} // namespace

VyrNatCliCallback::VyrNatCliCallback(const std::string& name, const std::string& path,
                                     VyrNatCliAgent* agent)
    : AgentCommandCallback(name, path), BuiltFrom({name, path, agent}), agent_(agent) {}

bool VyrNatCliCallback::admitted(int fd) const {
    const VyrNatTableMgr* owner = agent_ ? agent_->cliTableMgr() : nullptr;
    if (!owner) {
        dprintf(fd, "Agent not initialized yet");
        return false;
    }
    if (!owner->intfNat() && !owner->egrMcNat()) {
        dprintf(fd, "Command not supported in this profile");
        return false;
    }
    if (!owner->allManagersPresent()) {
        dprintf(fd, "Agent not initialized yet");
        return false;
    }
    int size = kSendBufferBytes;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    return true;
}

void VyrNatCliCallback::handleCommand(uint32_t fd, const std::string& command) {
    if (!admitted(static_cast<int>(fd))) {
        return;
    }
    VTRACE(th, 8, "Unknown command " << command);
    ++cliErrors_;
}

Ert::Ptr<VyrNatCliCallback>
vyrNatCliCallbackFactory(const std::string& name, const std::string& path, VyrNatCliAgent* agent) {
    return Ert::make<VyrNatCliCallback>(name, path, agent);
}

} // namespace VyrNat
