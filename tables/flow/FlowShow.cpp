#include "tables/flow/VyrNatTableMgrNatFlow.h"

namespace VyrNat {

void VyrNatTableMgrNatFlow::showSummary(int) const {}
void VyrNatTableMgrNatFlow::showEntries(int) const {}

} // namespace VyrNat
