#include "tables/dynamic/DynamicFullConeDipHelper.h"

#include "common/TableWrite.h"
#include "host/Assert.h"
#include "tables/dynamic/VyrNatTableMgrDynamic.h"

#include <ios>

namespace VyrNat {

bool VyrDynamicFullConeDipHelper::createDynamicFullConeEntry(uint16_t profile, uint16_t l4Port,
                                                             uint16_t l4PortMask,
                                                             IpAddrWithFullMask addr,
                                                             uint8_t protocol) {
    VTRACE(dynamicTrace, 5,
           "createDynamicFullConeEntry"
               << ", profile: " << profile << ", addr: " << addr.toString() << ", l4Port:" << l4Port
               << ", l4PortMask:0x" << std::hex << l4PortMask << std::dec
               << ", proto:" << unsigned(protocol));
    const uint16_t rangeId = createDynamicFullConeCompressEntry(addr);
    if (rangeId == 0) {
        return false;
    }
    if (!l4PortSupported()) {
        VTRACE(dynamicTrace, 5, "Ignoring l4port");
        l4Port = 0;
        l4PortMask = 0;
    }
    const DynamicFullConeEntryKey key{profile, rangeId, protocol, l4Port, l4PortMask};
    if (auto it = dynamicFullCone_.find(key); it != dynamicFullCone_.end()) {
        ++it->second.refCount;
        VTRACE(dynamicTrace, 5, "RefCount is now : " << it->second.refCount);
        return true;
    }
    const auto ms = programFullConeTable(profile, protocol, rangeId, l4Port, l4PortMask);
    if (!ms) {
        // The range id stays only with a full-cone entry that uses it.
        deleteDynamicFullConeCompressEntry(addr);
        return false;
    }
    dynamicFullCone_.emplace(key, DynamicFullConeEntry{key, 1, *ms});
    return true;
}

void VyrDynamicFullConeDipHelper::deleteDynamicFullConeEntry(uint16_t profile,
                                                             IpAddrWithFullMask addr,
                                                             uint16_t l4Port, uint16_t l4PortMask,
                                                             uint8_t protocol) {
    VTRACE(dynamicTrace, 5,
           "deleteDynamicFullConeEntry"
               << ", profile: " << profile << ", addr: " << addr.toString() << ", l4Port:" << l4Port
               << ", l4PortMask:0x" << std::hex << l4PortMask << std::dec
               << ", proto:" << unsigned(protocol));
    const auto* compress = dynamicFullConeCompress(addr);
    if (!l4PortSupported()) {
        VTRACE(dynamicTrace, 5, "Ignoring l4port for deletion");
        l4Port = 0;
        l4PortMask = 0;
    }
    auto it =
        compress ? dynamicFullCone_.find({profile, compress->rangeId, protocol, l4Port, l4PortMask})
                 : dynamicFullCone_.end();
    if (it == dynamicFullCone_.end()) {
        VTRACE(dynamicTrace, 1, "DynamicFullCone entry not found");
        return;
    }
    DynamicFullConeEntry& fcEntry = it->second;
    --fcEntry.refCount;
    VTRACE(dynamicTrace, 5, "DynamicFullCone entry refCount: " << fcEntry.refCount);
    if (fcEntry.refCount == 0) {
        VTRACE(dynamicTrace, 5, "Deleting dynamicFullCone entry");
        deleteFullConeTable(fcEntry.matchSpec);
        dynamicFullCone_.erase(it);
    }
    deleteDynamicFullConeCompressEntry(addr);
}

std::optional<VyrP4::DynamicFullConeMatchSpec> VyrDynamicFullConeDipHelper::programFullConeTable(
    uint16_t profile, uint8_t protocol, uint16_t rangeId, uint16_t l4Port, uint16_t l4PortMask) {
    VYR_CHECK(fullCone_, "dynamicFullConeTable()");
    VyrP4::DynamicFullConeMatchSpec ms;
    ms.ingMdNatProfileIdIs(profile);
    ms.outerIpv4HdrProtocolIs(protocol);
    ms.ingMdFullConeDipRangeIdIs(rangeId);
    ms.l4PortHdrDstPortIs(l4Port, l4PortMask);
    const WriteRefusal refused =
        tableWriteRefused([&] { fullCone_->entryIs(ms, VyrP4::ClearSipActionSpec()); });
    if (refused) {
        VTRACE(dynamicTrace, 1,
               "programFullConeTable: " << refused.text() << " in dynamicFullCone");
        refusal_ = refused.reason();
        return std::nullopt;
    }
    return ms;
}

std::optional<VyrP4::DynamicFullConeDipMatchSpec>
VyrDynamicFullConeDipHelper::programCompressTable(IpAddrWithFullMask addr, uint16_t rangeId) {
    return writeCompressEntry(fullConeDip_.get(), addr, rangeId);
}

void VyrDynamicFullConeDipHelper::deleteCompressTable(
    const VyrP4::DynamicFullConeDipMatchSpec& ms) {
    VYR_CHECK(fullConeDip_, "dynamicFullConeDipTable()");
    fullConeDip_->entryDel(ms);
}

void VyrDynamicFullConeDipHelper::deleteFullConeTable(const VyrP4::DynamicFullConeMatchSpec& ms) {
    VYR_CHECK(fullCone_, "dynamicFullConeTable()");
    fullCone_->entryDel(ms);
}

Ert::Ptr<VyrDynamicFullConeDipHelper> vyrDynamicFullConeDipHelperFactory() {
    return Ert::make<VyrDynamicFullConeDipHelper>();
}

} // namespace VyrNat
