// The NAT state machine's part of the agent's CLI: what it has programmed, and the dynamic
// connections it handled since the counters were last cleared.

#include "host/OmaNatSmInternal.h"

#include <cinttypes>
#include <cstdio>

namespace Oma {

void NatSm::initDynamicStats() {
    VTRACE(natSmTrace, 2, "dynamic stats cleared");
    dynamicStats_ = DynamicStats{};
}

void NatSm::showSummary(int fd) const {
    const NatSmStatus& s = *status_;
    dprintf(fd, "NAT state machine\n");
    dprintf(fd, "-----------------\n");
    dprintf(fd, "Translations:        %10s   %14s\n", "Programmed", "Not programmed");
    const auto row = [fd](const char* what, uint32_t yes, uint32_t no) {
        dprintf(fd, "   %-17s %10u   %14u\n", what, yes, no);
    };
    row("Static", s.staticProgrammed(), s.staticNotProgrammed());
    row("Dynamic", s.dynamicProgrammed(), s.dynamicNotProgrammed());
    row("Twice NAT", s.twiceProgrammed(), s.twiceNotProgrammed());
    row("NAT flow", s.flowProgrammed(), s.flowNotProgrammed());
    dprintf(fd, "Dynamic connections since counters cleared:\n");
    dprintf(fd, "   Added: %" PRIu64 "\n", dynamicStats_.added);
    dprintf(fd, "   Refused: %" PRIu64 "\n", dynamicStats_.refused);
    dprintf(fd, "   Deleted: %" PRIu64 "\n", dynamicStats_.deleted);
    dprintf(fd, "\n");
}

} // namespace Oma
