#include "tables/HitBitTables.h"

#include "host/Assert.h"

namespace VyrNat {

uint32_t hitBitTableIndex(const VyrP4::ResourceInfo* resourceInfo, const std::string& name,
                          const char* attr, Trace::Handle& trace) {
    VYR_CHECK(resourceInfo, "resourceInfo()");
    const uint32_t id = resourceInfo->tableIndex(name);
    VYR_CHECK(id != VyrP4::ResourceInfo::kInvalidTableIndex, std::string(attr) + "() != 0xFFFFFFF");
    const auto info = resourceInfo->tableInfo(id);
    VYR_CHECK(info && info->hitBitSupported, "tableInfo->hitBitSupported()");
    VTRACE(trace, 0, "Table " << name << ", index: " << id);
    return id;
}

} // namespace VyrNat
