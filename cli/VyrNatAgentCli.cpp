#include "cli/VyrNatAgentCli.h"

#include "helper/VyrNatHelper.h"
#include "host/OmaNatSm.h"
#include "host/Trace.h"
#include "tables/VyrNatTableMgr.h"
#include "tables/dynamic/VyrNatTableMgrDynamic.h"
#include "tables/egress/VyrNatTableMgrEgressStatic.h"
#include "tables/flow/VyrNatTableMgrNatFlow.h"
#include "tables/static/VyrNatTableMgrStatic.h"
#include "tables/twice/VyrNatTableMgrTwice.h"

#include <cstdio>
#include <optional>
#include <sys/socket.h>
#include <utility>

namespace VyrNat {

namespace {

Trace::Handle th("VyrNatAgent");
// Replies can be long; the request socket gets room for them.
constexpr int kSendBufferBytes = 20971520;
// Diagnostics of requests go to the trace only; the reply is the show text alone.
constexpr int kLevel = 8;

// The keywords, tested in this order: the first one found anywhere in the request wins.
enum class Keyword { summary, clear, profiles, statics, egress, twice, dynamic, address, flow };
constexpr std::pair<const char*, Keyword> kKeywords[] = {
    {"showNatSummary", Keyword::summary},   {"clearNatCounters", Keyword::clear},
    {"showNatProfiles", Keyword::profiles}, {"showNatStatic", Keyword::statics},
    {"showNatEgress", Keyword::egress},     {"showNatTwice", Keyword::twice},
    {"showNatDynamic", Keyword::dynamic},   {"showNatAddress", Keyword::address},
    {"showNatFlowMatch", Keyword::flow},
};

std::optional<Keyword> keywordOf(const std::string& command) {
    for (const auto& [word, keyword] : kKeywords) {
        if (command.find(word) != std::string::npos) {
            return keyword;
        }
    }
    return std::nullopt;
}

// A word's value in a table of words; nullopt for a word not in it.
template <class T, std::size_t N>
std::optional<T> lookup(const std::pair<const char*, T> (&table)[N], const std::string& word) {
    for (const auto& [text, value] : table) {
        if (word == text) {
            return value;
        }
    }
    return std::nullopt;
}

template <class T, std::size_t N>
bool lookupInto(const std::pair<const char*, T> (&table)[N], const std::string& word, T& value) {
    const auto found = lookup(table, word);
    if (found) {
        value = *found;
    }
    return found.has_value();
}

} // namespace

VyrNatCliCallback::VyrNatCliCallback(const std::string& name, const std::string& path,
                                     VyrNatCliAgent* agent)
    : AgentCommandCallback(name, path), BuiltFrom({name, path, agent}), agent_(agent) {}

std::string VyrNatCliCallback::nextFieldS(const std::string& command, uint32_t* pos) {
    const std::size_t size = command.size();
    std::size_t start = std::min<std::size_t>(std::size_t(*pos) + 1, size);
    while (start < size && command[start] == ' ') {
        ++start;
    }
    std::size_t end = command.find(' ', start);
    if (end == std::string::npos) {
        end = size;
    }
    *pos = uint32_t(end);
    return command.substr(start, end - start);
}

VyrNatTableMgr& VyrNatCliCallback::owner() const {
    return *agent_->cliTableMgr();
}

bool VyrNatCliCallback::admitted(int fd) const {
    const VyrNatTableMgr* owner = agent_ ? agent_->cliTableMgr() : nullptr;
    if (!owner) {
        dprintf(fd, "%s", kCliNotInitialized);
        return false;
    }
    if (!owner->intfNat() && !owner->egrMcNat()) {
        dprintf(fd, "%s", kCliNotSupported);
        return false;
    }
    if (!owner->allManagersPresent()) {
        dprintf(fd, "%s", kCliNotInitialized);
        return false;
    }
    // Forcing the size past the system's limit takes privilege; without it the request gets
    // as much as the limit allows. Not every descriptor is a socket: the reply is written all
    // the same.
    const int size = kSendBufferBytes;
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &size, sizeof size) != 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    }
    return true;
}

void VyrNatCliCallback::handleCommand(uint32_t fd, const std::string& command) {
    const int out = static_cast<int>(fd);
    if (!admitted(out)) {
        return;
    }
    const auto keyword = keywordOf(command);
    if (!keyword) {
        VTRACE(th, kLevel, "Unknown command " << command);
        cliErrorsInc();
        return;
    }
    // Parsing starts inside the keyword: the first field is the rest of it.
    uint32_t pos = 1;
    const std::string rest = nextFieldS(command, &pos);
    switch (*keyword) {
    case Keyword::summary:
        return showSummary(out);
    case Keyword::clear:
        return clearCounters();
    case Keyword::profiles:
        return showProfiles(out);
    case Keyword::statics:
        return showStatic(out, command, pos);
    case Keyword::egress:
        return showEgress(out, command, pos);
    case Keyword::twice:
        return showTwice(out, command, pos);
    case Keyword::dynamic:
        return showDynamic(out, command, pos, rest);
    case Keyword::address:
        return showAddress(out, command, pos);
    case Keyword::flow:
        return showFlow(out);
    }
}

void VyrNatCliCallback::showSummary(int fd) {
    VTRACE(th, kLevel, "Show nat summary");
    // The owner lists its managers in summary order: static, twice, dynamic, per-VRF, NAT flow,
    // egress static.
    for (const auto& mgr : owner().managers()) {
        mgr->showSummary(fd);
    }
    if (const Oma::NatSm* sm = agent_->cliOmaNatSm()) {
        sm->showSummary(fd);
    }
    if (const NatHelper* helper = agent_->cliNatHelper()) {
        helper->showSummary(fd);
    }
    cliCmdsInc();
}

void VyrNatCliCallback::clearCounters() {
    VTRACE(th, kLevel, "Clear nat counters");
    if (Oma::NatSm* sm = agent_->cliOmaNatSm()) {
        sm->initDynamicStats();
    }
    if (NatHelper* helper = agent_->cliNatHelper(); helper && helper->natHelperSm()) {
        helper->natHelperSm()->initDynStats();
    }
    cliCmdsInc();
}

void VyrNatCliCallback::showProfiles(int fd) {
    VTRACE(th, kLevel, "Show nat profile");
    if (const auto* mgr = owner().tableMgrStatic()) {
        mgr->showProfiles(fd);
    }
    if (const auto* mgr = owner().tableMgrEgressStatic()) {
        mgr->showProfiles(fd);
    }
    cliCmdsInc();
}

void VyrNatCliCallback::showStatic(int fd, const std::string& command, uint32_t pos) {
    VTRACE(th, kLevel, "Show nat static");
    const auto* mgr = owner().tableMgrStatic();
    if (!mgr) {
        cliErrorsInc();
        return;
    }
    const std::string direction = nextFieldS(command, &pos);
    const std::string kind = nextFieldS(command, &pos);
    const bool snat = kind == "snat";
    const bool dnat = kind == "dnat";
    StaticCliCommand cmd = staticUnprogrammed;
    if (kind != "unprogrammed") {
        const std::string type = nextFieldS(command, &pos);
        const auto known = lookup(kStaticCliTypes, type);
        if (!known) {
            VTRACE(th, kLevel, "Unknow static command: " << type);
            cliErrorsInc();
            return;
        }
        cmd = *known;
    }
    if (direction != "egress") {
        mgr->showEntries(fd, snat, dnat, cmd);
    }
    if (direction != "ingress") {
        mgr->showEgressEntries(fd, snat, dnat, cmd, direction == "egress");
    }
    cliCmdsInc();
}

void VyrNatCliCallback::showEgress(int fd, const std::string& command, uint32_t pos) {
    VTRACE(th, kLevel, "Show nat egress mc");
    const auto* mgr = owner().tableMgrEgressStatic();
    if (!mgr) {
        cliErrorsInc();
        return;
    }
    const std::string kind = nextFieldS(command, &pos);
    const std::string type = nextFieldS(command, &pos);
    const auto cmd = lookup(kEgressCliTypes, type);
    if (!cmd) {
        VTRACE(th, kLevel, "Unknown egress command: " << type);
        cliErrorsInc();
        return;
    }
    mgr->showEntries(fd, kind == "snat", kind == "dnat", *cmd);
    cliCmdsInc();
}

void VyrNatCliCallback::showTwice(int fd, const std::string& command, uint32_t pos) {
    VTRACE(th, kLevel, "Show nat twice");
    const auto* mgr = owner().tableMgrTwice();
    if (!mgr) {
        cliErrorsInc();
        return;
    }
    const std::string type = nextFieldS(command, &pos);
    const auto cmd = lookup(kTwiceCliTypes, type);
    if (!cmd) {
        VTRACE(th, kLevel, "Unknown twice command: " << type);
        cliErrorsInc();
        return;
    }
    mgr->showEntries(fd, *cmd);
    cliCmdsInc();
}

void VyrNatCliCallback::showDynamic(int fd, const std::string& command, uint32_t pos,
                                    const std::string& name) {
    VTRACE(th, kLevel, "Show nat dynamic");
    const auto* mgr = owner().tableMgrDynamic();
    if (!mgr) {
        cliErrorsInc();
        return;
    }
    const std::string type = nextFieldS(command, &pos);
    VTRACE(th, kLevel, "cmdName: " << name);
    VTRACE(th, kLevel, "tableType: " << type);
    DynamicCliCommand cmd;
    DynamicSnatCliTable snatTable = snatTableAll;
    DynamicDnatCliTable dnatTable = dnatTableAll;
    if (const auto known = lookup(kDynamicCliTypes, type)) {
        cmd = *known;
    } else if (type == "snat" || type == "dnat") {
        // The table on the side named; "dynamicDnat1" is a table of both sides.
        const std::string table = nextFieldS(command, &pos);
        const bool snat = type == "snat";
        if (!(snat ? lookupInto(kSnatCliTables, table, snatTable)
                   : lookupInto(kDnatCliTables, table, dnatTable))) {
            VTRACE(th, kLevel, "Unknown " << type << " table " << table);
            cliErrorsInc();
            return;
        }
        cmd = snat ? dynamicSnat : dynamicDnat;
    } else {
        VTRACE(th, kLevel, "Unknow dynamic command " << type);
        cliErrorsInc();
        return;
    }
    mgr->showEntries(fd, cmd, snatTable, dnatTable);
    cliCmdsInc();
}

void VyrNatCliCallback::showAddress(int fd, const std::string& command, uint32_t pos) {
    VTRACE(th, kLevel, "Show nat address");
    // Text that is no address asks for 0.0.0.0.
    const Ip::IpAddr addr = Ip::IpAddr::parse(nextFieldS(command, &pos)).value_or(Ip::IpAddr());
    if (const auto* mgr = owner().tableMgrStatic()) {
        mgr->showAddress(fd, addr);
    }
    if (const auto* mgr = owner().tableMgrTwice()) {
        mgr->showAddress(fd, addr);
    }
    if (const auto* mgr = owner().tableMgrDynamic()) {
        mgr->showAddress(fd, addr);
    }
    cliCmdsInc();
}

void VyrNatCliCallback::showFlow(int fd) {
    VTRACE(th, kLevel, "Show nat flow");
    const auto* mgr = owner().tableMgrNatFlow();
    if (!mgr) {
        cliErrorsInc();
        return;
    }
    mgr->showEntries(fd);
    cliCmdsInc();
}

Ert::Ptr<VyrNatCliCallback>
vyrNatCliCallbackFactory(const std::string& name, const std::string& path, VyrNatCliAgent* agent) {
    return Ert::make<VyrNatCliCallback>(name, path, agent);
}

} // namespace VyrNat
