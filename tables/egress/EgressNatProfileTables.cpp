// The VLAN-to-profile tables of the egress pipeline.

#include "common/TableWrite.h"
#include "host/Ringlog.h"
#include "host/Trace.h"
#include "tables/egress/EgressStaticSides.h"

namespace VyrNat {

namespace {

Trace::Handle th("VyrNatTableMgrEgressStatic");

template <class Table, class Action>
bool updateProfileTable(VyrNatTableMgrEgressStatic& mgr, Table& table,
                        std::map<uint16_t, typename Table::MatchSpec>& entries, uint16_t vlan,
                        const Action& action, const char* fn) {
    auto it = entries.find(vlan);
    typename Table::MatchSpec ms;
    if (it != entries.end()) {
        ms = it->second;
    } else {
        ms.egrMdVlanIdIs(vlan);
    }
    if (WriteRefusal refused = tableWriteRefused([&] {
            mgr.forceEntryFail();
            table.entryIs(ms, action);
        })) {
        VTRACE(th, 0, fn << ": " << refused.text() << ", vlan: " << vlan);
        RINGLOG(0, "%s: ERROR %s vlan %u", fn, refused.name(), vlan);
        return false;
    }
    entries.insert_or_assign(vlan, ms);
    return true;
}

template <class Table>
void deleteProfileTable(Table& table, std::map<uint16_t, typename Table::MatchSpec>& entries,
                        uint16_t vlan, const char* missingText) {
    auto it = entries.find(vlan);
    if (it == entries.end()) {
        VTRACE(th, 3, missingText << ", vlan: " << vlan);
        return;
    }
    table.entryDel(it->second);
    entries.erase(it);
}

} // namespace

// A profile table the chip does not have means nothing to program there, not a fault: the
// ingress one comes only with egress unicast NAT.
bool VyrNatTableMgrEgressStatic::updateIngNatProfileTable(uint16_t vlan, uint16_t profile) {
    if (!ingNatProfileTable()) {
        return true;
    }
    VyrP4::SetEgrMdIngNatProfileActionSpec action;
    action.ingNatProfileIdIs(profile);
    return updateProfileTable(*this, *ingNatProfileTable_, hwIngNatProfileEntries_, vlan, action,
                              "updateIngNatProfileTable");
}

bool VyrNatTableMgrEgressStatic::updateEgrNatProfileTable(uint16_t vlan, uint16_t profile) {
    if (!egrNatProfileTable()) {
        return true;
    }
    VyrP4::SetEgrMdEgrNatProfileActionSpec action;
    action.egrNatProfileIdIs(profile);
    return updateProfileTable(*this, *egrNatProfileTable_, hwEgrNatProfileEntries_, vlan, action,
                              "updateEgrNatProfileTable");
}

void VyrNatTableMgrEgressStatic::deleteIngNatProfileTable(uint16_t vlan) {
    if (!ingNatProfileTable()) {
        return;
    }
    deleteProfileTable(*ingNatProfileTable_, hwIngNatProfileEntries_, vlan,
                       "Vlan not found in the ingressNatProfileEgressPipe table");
}

void VyrNatTableMgrEgressStatic::deleteEgrNatProfileTable(uint16_t vlan) {
    if (!egrNatProfileTable()) {
        return;
    }
    deleteProfileTable(*egrNatProfileTable_, hwEgrNatProfileEntries_, vlan,
                       "Vlan not found in the egressNatProfileEgressPipe table");
}

} // namespace VyrNat
