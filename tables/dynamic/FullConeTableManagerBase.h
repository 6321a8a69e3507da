#pragma once
// What the two full-cone helpers share. Full-cone tables match a small range id instead of the
// translated address; a compress table maps the address prefix to that id. The base hands out
// the range ids and keeps one compress entry per prefix, counted by the full-cone entries that
// use it, and leaves the compress table itself to the helper that owns it.

#include "chip/P4Tables.h"
#include "common/IdBitmap.h"
#include "common/TableWrite.h"
#include "host/Assert.h"
#include "host/IpTypes.h"
#include "host/Ptr.h"
#include "tables/dynamic/DynamicNatTypes.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>

template <> struct std::hash<Ip::IpAddrWithFullMask> {
    std::size_t operator()(const Ip::IpAddrWithFullMask& p) const noexcept {
        return VyrNat::mixHash(uint64_t(p.addr.value) << 32 | p.mask);
    }
};

namespace VyrNat {

using Ip::IpAddrWithFullMask;

// One prefix's compress entry and the full-cone entries that use its range id.
template <class MatchSpec> struct DynamicFullConeCompressEntry {
    IpAddrWithFullMask addr;
    uint16_t rangeId = 0;
    uint32_t refCount = 0;
    MatchSpec matchSpec;

    void refCountInc() { ++refCount; }
    void refCountDec() { --refCount; }
};

// One full-cone table entry: its key, the users that share it and its match.
template <class Key, class MatchSpec> struct FullConeTableEntry {
    Key key;
    uint32_t refCount = 0;
    MatchSpec matchSpec;
};

// `CompressSpec` is the match spec of the helper's compress table, `FullConeSpec` that of its
// full-cone table.
template <class CompressSpec, class FullConeSpec>
class VyrFullConeTableManagerBase : public Ert::RefCounted {
public:
    using CompressEntry = DynamicFullConeCompressEntry<CompressSpec>;

    // Range ids 1 to `size` - 1; id 0 means none.
    void initRangeMap(uint16_t size) { rangeIdMap_ = IdBitmap(size); }
    const IdBitmap& rangeIdMap() const { return rangeIdMap_; }

    // Whether the helper's full-cone entries match the L4 port.
    bool l4PortSupported() const { return l4PortSupported_; }
    void l4PortSupportedIs(bool supported) { l4PortSupported_ = supported; }

    // A reference on the range id of `addr`; 0 when the prefix overlaps another one, no id is
    // left or the compress table refuses the entry.
    uint16_t createDynamicFullConeCompressEntry(IpAddrWithFullMask addr);
    // Drops one reference; the last one removes the compress entry and frees the id.
    void deleteDynamicFullConeCompressEntry(IpAddrWithFullMask addr);

    const CompressEntry* dynamicFullConeCompress(IpAddrWithFullMask addr) const;
    const std::unordered_map<IpAddrWithFullMask, CompressEntry>& dynamicFullConeCompress() const {
        return dynamicFullConeCompress_;
    }

    // Why the last create was refused, for the host's status.
    const std::string& refusal() const { return refusal_; }

    virtual std::optional<CompressSpec> programCompressTable(IpAddrWithFullMask, uint16_t) {
        return std::nullopt;
    }
    virtual void deleteCompressTable(const CompressSpec&) {}
    virtual void deleteFullConeTable(const FullConeSpec&) {}
    virtual const char* getCompressTableName() const { return ""; }

protected:
    // The prefix as the records key it: the address bits beyond the mask dropped, so that two
    // spellings of one prefix are one entry rather than two entries under one match.
    static IpAddrWithFullMask normalized(IpAddrWithFullMask addr) {
        addr.addr = Ip::IpAddr(addr.addr.value & addr.mask);
        return addr;
    }

    // Writes the compress entry mapping `addr` to `rangeId` into `table`; nullopt, with the
    // reason in `refusal_`, when the table refuses it.
    template <class Table>
    std::optional<CompressSpec> writeCompressEntry(Table* table, IpAddrWithFullMask addr,
                                                   uint16_t rangeId) {
        VYR_CHECK(table, "compress table");
        CompressSpec ms;
        ms.outerIpv4HdrDipIs(addr.addr.value, addr.mask);
        VyrP4::SetFullConeDipRangeIdActionSpec action;
        action.rangeIdIs(rangeId);
        if (const WriteRefusal refused = tableWriteRefused([&] { table->entryIs(ms, action); })) {
            refusal_ = refused.reason();
            return std::nullopt;
        }
        return ms;
    }

    std::string refusal_;

private:
    IdBitmap rangeIdMap_;
    bool l4PortSupported_ = false;
    std::unordered_map<IpAddrWithFullMask, CompressEntry> dynamicFullConeCompress_;
};

} // namespace VyrNat
