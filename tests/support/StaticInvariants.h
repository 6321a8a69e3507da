#pragma once
// Checks that the static manager's records and the chip agree: every table holds exactly the
// entries the records describe, ACL ids belong to exactly one ACL record each, reference counts
// equal their users, and the fragment counters equal the fragment records.

#include "tables/static/VyrNatTableMgrStatic.h"

#include <string>

namespace TestSupport {

// One line per violation; empty when every invariant holds.
std::string staticInvariants(VyrNat::VyrNatTableMgrStatic& mgr);

// True when the manager holds no record and its tables are empty (ACL bit 0 only).
std::string staticEmpty(VyrNat::VyrNatTableMgrStatic& mgr);

} // namespace TestSupport
