#include "tables/twice/VyrNatTableMgrTwice.h"

namespace VyrNat {

void VyrNatTableMgrTwice::showSummary(int) const {}
void VyrNatTableMgrTwice::showEntries(int, TwiceCliCommand) const {}
void VyrNatTableMgrTwice::showAddress(int, Ip::IpAddr) const {}

} // namespace VyrNat
