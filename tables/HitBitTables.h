#pragma once
// What the dynamic and the twice-NAT hit-bit state machines share.

#include "chip/ResourceInfo.h"
#include "host/Trace.h"

#include <cstdint>
#include <string>

namespace VyrNat {

// The hardware index of a table whose hit bits are scanned: the profile must have the table,
// with hit bits; `attr` names the index in the checks. Traced "Table <name>, index: <id>".
uint32_t hitBitTableIndex(const VyrP4::ResourceInfo* resourceInfo, const std::string& name,
                          const char* attr, Trace::Handle& trace);

} // namespace VyrNat
