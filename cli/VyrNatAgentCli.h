#pragma once
// The in-agent CLI: the callback the host's command-request directory delivers requests to. It
// checks that the agent can answer, picks the command by keyword, reads its arguments and asks
// the managers, the NAT helper and the host's NAT state machine to write their show text to the
// request's socket.

#include "common/NatCliCommands.h"
#include "common/Rebuild.h"
#include "host/Agent.h"
#include "host/Entity.h"

#include <cstdint>
#include <string>

namespace Oma {
class NatSm;
}

namespace VyrNat {

class VyrNatTableMgr;
class NatHelper;

// What the CLI reads of the agent that owns it.
class VyrNatCliAgent {
public:
    // The table-manager owner; null until the profile's managers are built.
    virtual VyrNatTableMgr* cliTableMgr() const = 0;
    // The NAT helper and the host's NAT state machine; null until the profile's tables are up.
    virtual NatHelper* cliNatHelper() const = 0;
    virtual Oma::NatSm* cliOmaNatSm() const = 0;

protected:
    ~VyrNatCliAgent() = default;
};

class VyrNatCliCallback : public Agent::AgentCommandCallback,
                          public BuiltFrom<std::string, std::string, VyrNatCliAgent*> {
public:
    ERT_ENTITY_TYPE("VyrNat::VyrNatCliCallback")
    VyrNatCliCallback(const std::string& name, const std::string& path, VyrNatCliAgent* agent);

    void handleCommand(uint32_t fd, const std::string& command) override;

    // The word after position `*pos + 1`, past any blanks; `*pos` moves to the blank (or the
    // end) after it. Empty when the text has no more words.
    static std::string nextFieldS(const std::string& command, uint32_t* pos);

    // Commands answered, and requests rejected for a missing manager or an unknown word.
    Ert::Attr<uint32_t> cliCmds{this, "cliCmds"};
    Ert::Attr<uint32_t> cliErrors{this, "cliErrors"};
    void cliCmdsInc() { cliCmds.set(cliCmds() + 1); }
    void cliErrorsInc() { cliErrors.set(cliErrors() + 1); }

private:
    // Whether the agent can answer; writes the reason to `fd` when it cannot.
    bool admitted(int fd) const;

    // One handler per keyword; `pos` is past the keyword. Each counts what it did.
    void showSummary(int fd);
    void clearCounters();
    void showProfiles(int fd);
    void showStatic(int fd, const std::string& command, uint32_t pos);
    void showEgress(int fd, const std::string& command, uint32_t pos);
    void showTwice(int fd, const std::string& command, uint32_t pos);
    void showDynamic(int fd, const std::string& command, uint32_t pos, const std::string& name);
    void showAddress(int fd, const std::string& command, uint32_t pos);
    void showFlow(int fd);

    VyrNatTableMgr& owner() const;

    VyrNatCliAgent* agent_; // not owned: the agent owns this callback
};

Ert::Ptr<VyrNatCliCallback>
vyrNatCliCallbackFactory(const std::string& name, const std::string& path, VyrNatCliAgent* agent);

} // namespace VyrNat
