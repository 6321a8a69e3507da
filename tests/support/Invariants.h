#pragma once
// What must hold of the table managers between any two operations, with or without faults:
// every table holds exactly the entries the manager's records describe, built the way the
// manager builds them; ids belong to exactly one record each; reference counts and counters
// equal what the records hold. Each checker returns one line per violation, empty when all holds.

#include "tables/VyrNatTableMgr.h"
#include "tables/static/StaticNatRecords.h"
#include "tools/scenario/Player.h"

#include <string>

namespace VyrNat {
class VyrNatTableMgrStatic;
class VyrNatTableMgrEgressStatic;
class VyrNatTableMgrVrf;
class VyrNatTableMgrDynamic;
class VyrNatTableMgrTwice;
class VyrNatTableMgrNatFlow;
} // namespace VyrNat

namespace TestSupport {

// With `dynamicFragments`, fragment entries may have users beyond the static translations: the
// fragment entries the NAT helper adds for dynamic connections.
std::string staticInvariants(const VyrNat::VyrNatTableMgrStatic& mgr,
                             bool dynamicFragments = false);
std::string egressStaticInvariants(const VyrNat::VyrNatTableMgrEgressStatic& mgr);
std::string vrfInvariants(const VyrNat::VyrNatTableMgrVrf& mgr);
// Who holds the references on the source-side full-cone and dynamic SNAT ACL entries: the CPU
// trap entries, or a test that drives those helpers itself (then only a count of 0 is wrong).
enum class HelperUsers { trapRules, direct };
std::string dynamicInvariants(const VyrNat::VyrNatTableMgrDynamic& mgr,
                              HelperUsers users = HelperUsers::trapRules);
// The CPU trap part of dynamicInvariants.
std::string dynamicTrapInvariants(const VyrNat::VyrNatTableMgrDynamic& mgr, HelperUsers users);
std::string twiceInvariants(const VyrNat::VyrNatTableMgrTwice& mgr);
std::string flowInvariants(const VyrNat::VyrNatTableMgrNatFlow& mgr);
// Every manager the owner has.
std::string invariants(const VyrNat::VyrNatTableMgr& owner, bool dynamicFragments = false);

// Whether the static manager holds the translation from `oldAddr` to `newAddr` under `key` of
// the profile: an address-only or address-and-port entry, or with `egress` an egress entry.
bool staticRecorded(const VyrNat::VyrNatTableMgrStatic& mgr, bool dnat, uint16_t profile,
                    const VyrNat::HwStaticNatAclKey& key, bool egress, Ip::IpAndPort oldAddr,
                    Ip::IpAndPort newAddr);

// What is left once everything was removed: every record collection that is not empty, and
// every entry the chip holds beyond those of `started` (the tables right after start-up).
std::string leftOver(const VyrNat::VyrNatTableMgr& owner, const VyrP4::Chip& chip,
                     const Scenario::ChipSnapshot& started);

} // namespace TestSupport
