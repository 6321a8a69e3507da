// What must hold of the NAT flow manager between any two operations: the table holds exactly the
// recorded entries and the default entry with its miss action, each built from its key with
// every value under its mask, and every hardware entry belongs to exactly one flow. Checked by
// lookups and counts, as a randomized run checks after every step.

#include "tables/flow/VyrNatTableMgrNatFlow.h"
#include "tests/support/Invariants.h"

namespace TestSupport {

using namespace VyrNat;

std::string flowInvariants(const VyrNatTableMgrNatFlow& mgr) {
    const auto& table = mgr.natFlowTable();
    if (!table) {
        return mgr.hwEntries().empty() ? "" : "natFlow records without the table\n";
    }
    std::string out;
    VyrP4::NatFlowMatchSpec miss;
    miss.l3InfoUnicastIs(0, 1);
    miss.l3InfoMulticastIs(0, 1);
    const auto missEntry = table->entry(miss);
    auto owner = mgr.hwEntries().find(VyrNatTableMgrNatFlow::defaultEntryKey());
    if (!missEntry || !missEntry->actionIf<VyrP4::OnMissActionSpec>() ||
        owner == mgr.hwEntries().end() || !(*owner->second == HwNatFlowKey{})) {
        out += "default entry not in the chip or not recorded under the empty key\n";
    }
    const std::size_t values = VyrP4::NatFlowMatchSpec::layout().valueWords;
    std::size_t recorded = 1;
    for (const auto& [key, flow] : mgr.hwNatFlowEntry()) {
        out += flow.entry().empty() ? "flow without entries: " + key.str() + "\n" : "";
        recorded += flow.entry().size();
        for (const auto& [hk, ms] : flow.entry()) {
            auto held = mgr.hwEntries().find(hk);
            bool underMasks = true;
            for (std::size_t i = 0; i < values; ++i) {
                underMasks = underMasks && (ms.words()[i] & ~ms.words()[values + i]) == 0;
            }
            if (held == mgr.hwEntries().end() || held->second != &key ||
                hk.profile != key.profile || ms.priority() < 1 || !underMasks ||
                !(ms == VyrNatTableMgrNatFlow::natFlowMatchSpec(hk, ms.priority())) ||
                !table->entry(ms)) {
                out += "entry " + hk.str() + " of " + key.str() + " recorded as " + ms.str() + "\n";
            }
        }
    }
    // Each record's entry is in the chip; equal counts leave no room for another entry, nor for
    // two records of one entry.
    if (mgr.hwEntries().size() != recorded || table->entryCount() != recorded) {
        out += "natFlow holds " + std::to_string(table->entryCount()) + " entries, hwEntries " +
               std::to_string(mgr.hwEntries().size()) + ", flows and the default " +
               std::to_string(recorded) + "\n";
    }
    return out;
}

} // namespace TestSupport
