#include "tables/dynamic/VyrNatTableMgrDynamic.h"

namespace VyrNat {

void VyrNatTableMgrDynamic::showSummary(int) const {}
void VyrNatTableMgrDynamic::showEntries(int, DynamicCliCommand, DynamicSnatCliTable,
                                        DynamicDnatCliTable) const {}
void VyrNatTableMgrDynamic::showAddress(int, Ip::IpAddr) const {}

} // namespace VyrNat
