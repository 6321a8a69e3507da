#pragma once
// Full-cone DNAT: one "dynamicFullConeDnat" entry per (profile, range id of the public address,
// protocol, public port) translates traffic from every peer to the inside address and port. The
// public address gets its range id from "dynamicFullConeCompressDip" as a host prefix.
// Connections from several peers to one public address and port share the entry, which
// translates as the latest of them asked.

#include "chip/P4Tables.h"
#include "tables/dynamic/FullConeTableManagerBase.h"

#include <map>
#include <memory>

namespace VyrNat {

struct DynamicFullConeDnatEntryKey {
    uint16_t profile = 0;
    uint16_t rangeId = 0;
    uint8_t protocol = 0;
    uint16_t l4Port = 0;
    auto operator<=>(const DynamicFullConeDnatEntryKey&) const = default;
};

using DynamicFullConeDnatEntry =
    FullConeTableEntry<DynamicFullConeDnatEntryKey, VyrP4::DynamicFullConeDnatMatchSpec>;

class VyrDynamicFullConeDnatHelper
    : public VyrFullConeTableManagerBase<VyrP4::DynamicFullConeCompressDipMatchSpec,
                                         VyrP4::DynamicFullConeDnatMatchSpec> {
public:
    // Traffic to `dst` of `protocol` goes to `newDst`. A new connection is one more user of the
    // key's entry; an update rewrites the entry its connection holds. False, with nothing
    // taken, when `dst` gets no range id or a table refuses the entry.
    bool createDynamicFullConeDnatEntry(uint16_t profile, IpAndPort dst, uint8_t protocol,
                                        IpAndPort newDst, bool update);
    void deleteDynamicFullConeDnatEntry(uint16_t profile, IpAndPort dst, uint8_t protocol);

    // The key traffic to `dst` matches, while `dst`'s address has a range id.
    std::optional<DynamicFullConeDnatEntryKey>
    dynamicFullConeDnatKey(uint16_t profile, IpAndPort dst, uint8_t protocol) const;
    // The entry of `key`; null when there is none.
    const DynamicFullConeDnatEntry*
    dynamicFullConeDnat(const DynamicFullConeDnatEntryKey& key) const;
    const std::map<DynamicFullConeDnatEntryKey, DynamicFullConeDnatEntry>&
    dynamicFullConeDnat() const {
        return dynamicFullConeDnat_;
    }

    const std::shared_ptr<VyrP4::DynamicFullConeDnatTable>& dynamicFullConeDnatTable() const {
        return fullConeDnat_;
    }
    void dynamicFullConeDnatTableIs(std::shared_ptr<VyrP4::DynamicFullConeDnatTable> t) {
        fullConeDnat_ = std::move(t);
    }
    const std::shared_ptr<VyrP4::DynamicFullConeCompressDipTable>&
    dynamicFullConeCompressDipTable() const {
        return compressDip_;
    }
    void
    dynamicFullConeCompressDipTableIs(std::shared_ptr<VyrP4::DynamicFullConeCompressDipTable> t) {
        compressDip_ = std::move(t);
    }

    std::optional<VyrP4::DynamicFullConeCompressDipMatchSpec>
    programCompressTable(IpAddrWithFullMask addr, uint16_t rangeId) override;
    void deleteCompressTable(const VyrP4::DynamicFullConeCompressDipMatchSpec& ms) override;
    void deleteFullConeTable(const VyrP4::DynamicFullConeDnatMatchSpec& ms) override;
    const char* getCompressTableName() const override { return "dynamicFullConeCompressDip"; }

private:
    std::map<DynamicFullConeDnatEntryKey, DynamicFullConeDnatEntry> dynamicFullConeDnat_;
    std::shared_ptr<VyrP4::DynamicFullConeDnatTable> fullConeDnat_;
    std::shared_ptr<VyrP4::DynamicFullConeCompressDipTable> compressDip_;
};

Ert::Ptr<VyrDynamicFullConeDnatHelper> vyrDynamicFullConeDnatHelperFactory();

} // namespace VyrNat
