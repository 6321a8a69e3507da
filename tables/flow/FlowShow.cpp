// The NAT flow manager's part of "showNatSummary" and "showNatFlowMatch": every hardware entry
// with the flow that owns it, read back from "natFlow".

#include "common/ShowSection.h"
#include "host/Assert.h"
#include "tables/flow/VyrNatTableMgrNatFlow.h"

#include <bit>
#include <cstdio>

namespace VyrNat {

namespace {

// "10.0.0.0/8", for the "%-18s" prefix columns.
struct ShowPrefix {
    ShowPrefix(uint32_t addr, uint32_t mask) {
        std::snprintf(text, sizeof text, "%s/%u", ShowIp(addr).c_str(),
                      unsigned(std::popcount(mask)));
    }
    char text[20];
};

char digit(uint8_t v) {
    return char('0' + v);
}

} // namespace

void VyrNatTableMgrNatFlow::showSummary(int fd) const {
    const auto& caps = tableMgr()->profileCapabilities();
    ShowWriter out(fd);
    // Multicast groups and their replication entries are the host multicast agent's: nothing
    // of this agent takes any.
    const unsigned mcastGroupsUsed = 0;
    const unsigned mcastReplicationsUsed = 0;
    out.printf("NAT flow\n");
    out.printf("--------\n");
    out.printf("Hw table size:\n");
    out.printf("   NAT flow table: %u\n", natFlowTableSize_);
    out.printf("   NAT multicast groups table: %u\n", caps.natMcastGroupTableSize());
    out.printf("   NAT multicast replication table: %u\n", caps.natMcastReplicationTableSize());
    out.printf("Current tables occupation:\n");
    out.printf("   NAT flow table: %u\n", unsigned(hwEntries_.size()));
    out.printf("   NAT multicast groups table: %u\n", mcastGroupsUsed);
    out.printf("   NAT multicast replication table: %u\n", mcastReplicationsUsed);
    out.printf("\n");
}

void VyrNatTableMgrNatFlow::showEntries(int fd) const {
    ShowWriter out(fd);
    out.printf("NAT flow match entries:\n");
    out.dashes(137);
    out.printf("%-7s %-18s %-18s %-3s %-3s %-18s %-18s %-5s %-13s %-13s %-5s %-5s\n", "Profile",
               "Policy", "Match", "UC", "MC", "Source", "Destination", "Proto", "Src port",
               "Dst port", "Prio", "Group");
    if (!natFlowTable_) {
        return;
    }
    // Flows in key order, then the default entry, below every flow.
    for (const auto& [flow, owned] : hwNatFlowEntry_) {
        for (const auto& [key, ms] : owned.entry()) {
            const auto entry = natFlowTable_->entry(ms);
            VYR_CHECK(entry, "recorded entry in natFlow");
            const auto* result = entry->actionIf<VyrP4::SetNatFlowResultActionSpec>();
            VYR_CHECK(result, "a->actionType() == ...setNatFlowResultActionSpec()");
            out.printf("%-7u ", unsigned(ms.ingMdNatProfileId()));
            out.printf("%-18s %-18s %c/%c %c/%c ", flow.policy.c_str(), flow.match.c_str(),
                       digit(ms.l3InfoUnicast()), digit(ms.l3InfoUnicastMask()),
                       digit(ms.l3InfoMulticast()), digit(ms.l3InfoMulticastMask()));
            out.printf("%-18s ", ShowPrefix(ms.outerIpv4HdrSip(), ms.outerIpv4HdrSipMask()).text);
            out.printf("%-18s ", ShowPrefix(ms.outerIpv4HdrDip(), ms.outerIpv4HdrDipMask()).text);
            out.printf("%-5u ", unsigned(ms.outerIpv4HdrProtocol()));
            out.printf("0x%04x/0x%04x ", ms.l4PortHdrSrcPort(), ms.l4PortHdrSrcPortMask());
            out.printf("0x%04x/0x%04x ", ms.l4PortHdrDstPort(), ms.l4PortHdrDstPortMask());
            out.printf("%5u ", unsigned(ms.priority()));
            out.printf("%-5u\n", unsigned(result->natFlowResult()));
        }
    }
    const VyrP4::NatFlowMatchSpec ms = defaultEntryMatchSpec();
    if (hwEntries_.count(defaultEntryKey()) != 0) {
        const auto entry = natFlowTable_->entry(ms);
        VYR_CHECK(entry, "the default entry in natFlow");
        out.printf("%-7s ", "*");
        out.printf("%-18s %-18s %c/%c %c/%c ", "default", "-", digit(ms.l3InfoUnicast()),
                   digit(ms.l3InfoUnicastMask()), digit(ms.l3InfoMulticast()),
                   digit(ms.l3InfoMulticastMask()));
        out.printf("%-18s ", "*");
        out.printf("%-18s ", "*");
        out.printf("%-5s ", "*");
        out.printf("%-13s ", "*");
        out.printf("%-13s ", "*");
        out.printf("%5u ", unsigned(ms.priority()));
        out.printf("%-5s\n", "Miss");
    }
}

} // namespace VyrNat
