#pragma once
// What must hold of the egress static manager between any two operations, with or without
// faults: its records agree with the chip table by table and entry for entry, its retry lists
// hold exactly the address entries not programmed, and every reference count equals the
// translations that use the entry.

#include "tables/egress/VyrNatTableMgrEgressStatic.h"

#include <string>

namespace TestSupport {

// One line per violation; empty when everything holds.
std::string egressStaticInvariants(const VyrNat::VyrNatTableMgrEgressStatic& mgr);

} // namespace TestSupport
