#pragma once
// The "dynamicSnatAcl" entries of the dynamic SNAT rules. On profiles whose SNAT1 matches a
// metadata destination, an ordinary rule's traffic copies the real destination into it
// (SetDip) and a full-cone rule's traffic clears it (ClearDip), so that all peers of a full-cone
// source share one SNAT1 entry. Rules with the same match share one entry, written by the first.

#include "chip/P4Tables.h"
#include "host/IpTypes.h"
#include "host/Ptr.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace VyrNat {

using Ip::IpAddrWithFullMask;

struct DynamicSnatAclEntryKey {
    uint16_t profile = 0; // the egress NAT profile id
    IpAddrWithFullMask srcIp;
    IpAddrWithFullMask dstIp;
    uint8_t protocol = 0;
    uint16_t sport = 0;
    uint16_t sportMask = 0;
    uint16_t dport = 0;
    uint16_t dportMask = 0;

    // "Value('VyrNat::DynamicSnatAclEntryKey', ** {'profile': %u, 'srcIp': %s, ...})"
    std::string str() const;
    auto operator<=>(const DynamicSnatAclEntryKey&) const = default;
};

struct DynamicSnatAclEntry {
    DynamicSnatAclEntryKey key;
    uint32_t refCount = 0;
    VyrP4::DynamicSnatAclMatchSpec matchSpec;

    void refCountInc() { ++refCount; }
    void refCountDec() { --refCount; }
};

class VyrDynamicSnatAclHelper : public Ert::RefCounted {
public:
    // One more rule with this match; a new match is written with the rule's priority and
    // action. False, with nothing taken, for a full-cone rule of any protocol but UDP or when
    // the table refuses the entry.
    bool createDynamicSnatAclEntry(uint16_t profile, IpAddrWithFullMask srcIp,
                                   IpAddrWithFullMask dstIp, uint8_t protocol, uint16_t sport,
                                   uint16_t sportMask, uint16_t dport, uint16_t dportMask,
                                   int32_t priority, bool deny, bool fullCone);
    void deleteDynamicSnatAclEntry(uint16_t profile, IpAddrWithFullMask srcIp,
                                   IpAddrWithFullMask dstIp, uint8_t protocol, uint16_t sport,
                                   uint16_t sportMask, uint16_t dport, uint16_t dportMask);

    // Moves the entry of `key` to `priority` when it still carries `oldPriority`, that is when
    // the rule being moved wrote it; the new entry goes in before the old one goes. False when
    // the table refuses the new entry, which leaves the old one.
    bool dynamicSnatAclPriorityUpdate(const DynamicSnatAclEntryKey& key, int32_t oldPriority,
                                      int32_t priority);

    std::optional<VyrP4::DynamicSnatAclMatchSpec>
    programDynamicSnatAcl(uint16_t profile, IpAddrWithFullMask srcIp, IpAddrWithFullMask dstIp,
                          uint8_t protocol, uint16_t sport, uint16_t sportMask, uint16_t dport,
                          uint16_t dportMask, int32_t priority, bool deny, bool fullCone);
    void deleteDynamicSnatAcl(const VyrP4::DynamicSnatAclMatchSpec& ms);

    const std::map<DynamicSnatAclEntryKey, DynamicSnatAclEntry>& dynamicSnatAcl() const {
        return dynamicSnatAcl_;
    }
    const DynamicSnatAclEntry* dynamicSnatAcl(const DynamicSnatAclEntryKey& key) const;

    const std::shared_ptr<VyrP4::DynamicSnatAclTable>& dynamicSnatAclTable() const {
        return table_;
    }
    void dynamicSnatAclTableIs(std::shared_ptr<VyrP4::DynamicSnatAclTable> t) {
        table_ = std::move(t);
    }

    // Why the last create was refused.
    const std::string& refusal() const { return refusal_; }

private:
    std::map<DynamicSnatAclEntryKey, DynamicSnatAclEntry> dynamicSnatAcl_;
    std::shared_ptr<VyrP4::DynamicSnatAclTable> table_;
    std::string refusal_;
};

Ert::Ptr<VyrDynamicSnatAclHelper> vyrDynamicSnatAclHelperFactory();

} // namespace VyrNat
