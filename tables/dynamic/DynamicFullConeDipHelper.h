#pragma once
// The source side of full cone: for the full-cone trap rules, entries of "dynamicFullCone" keyed
// by profile, the range id of the pool prefix ("dynamicFullConeDip"), protocol and port, so that
// return traffic from any peer is recognised. Entries with the same key share one table entry.

#include "chip/P4Tables.h"
#include "tables/dynamic/FullConeTableManagerBase.h"

#include <map>
#include <memory>

namespace VyrNat {

struct DynamicFullConeEntryKey {
    uint16_t profile = 0;
    uint16_t rangeId = 0;
    uint8_t protocol = 0;
    uint16_t l4Port = 0;
    uint16_t l4PortMask = 0;
    auto operator<=>(const DynamicFullConeEntryKey&) const = default;
};

using DynamicFullConeEntry =
    FullConeTableEntry<DynamicFullConeEntryKey, VyrP4::DynamicFullConeMatchSpec>;

class VyrDynamicFullConeDipHelper
    : public VyrFullConeTableManagerBase<VyrP4::DynamicFullConeDipMatchSpec,
                                         VyrP4::DynamicFullConeMatchSpec> {
public:
    // One more user of the entry of (profile, the prefix's range id, protocol, port); false,
    // with nothing taken, when the prefix has no range id or a table refuses the entry.
    bool createDynamicFullConeEntry(uint16_t profile, uint16_t l4Port, uint16_t l4PortMask,
                                    IpAddrWithFullMask addr, uint8_t protocol);
    void deleteDynamicFullConeEntry(uint16_t profile, IpAddrWithFullMask addr, uint16_t l4Port,
                                    uint16_t l4PortMask, uint8_t protocol);
    std::optional<VyrP4::DynamicFullConeMatchSpec>
    programFullConeTable(uint16_t profile, uint8_t protocol, uint16_t rangeId, uint16_t l4Port,
                         uint16_t l4PortMask);

    const std::map<DynamicFullConeEntryKey, DynamicFullConeEntry>& dynamicFullCone() const {
        return dynamicFullCone_;
    }

    const std::shared_ptr<VyrP4::DynamicFullConeTable>& dynamicFullConeTable() const {
        return fullCone_;
    }
    void dynamicFullConeTableIs(std::shared_ptr<VyrP4::DynamicFullConeTable> t) {
        fullCone_ = std::move(t);
    }
    const std::shared_ptr<VyrP4::DynamicFullConeDipTable>& dynamicFullConeDipTable() const {
        return fullConeDip_;
    }
    void dynamicFullConeDipTableIs(std::shared_ptr<VyrP4::DynamicFullConeDipTable> t) {
        fullConeDip_ = std::move(t);
    }

    std::optional<VyrP4::DynamicFullConeDipMatchSpec>
    programCompressTable(IpAddrWithFullMask addr, uint16_t rangeId) override;
    void deleteCompressTable(const VyrP4::DynamicFullConeDipMatchSpec& ms) override;
    void deleteFullConeTable(const VyrP4::DynamicFullConeMatchSpec& ms) override;
    const char* getCompressTableName() const override { return "dynamicFullConeDip"; }

private:
    std::map<DynamicFullConeEntryKey, DynamicFullConeEntry> dynamicFullCone_;
    std::shared_ptr<VyrP4::DynamicFullConeTable> fullCone_;
    std::shared_ptr<VyrP4::DynamicFullConeDipTable> fullConeDip_;
};

Ert::Ptr<VyrDynamicFullConeDipHelper> vyrDynamicFullConeDipHelperFactory();

} // namespace VyrNat
