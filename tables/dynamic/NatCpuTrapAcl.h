#pragma once
// The records of the "natCpuTrapAcl" entries: one entry per match of every dynamic NAT rule,
// gathered under the rule's ACL, and the reverse traps of interface-overload NAT, one per
// interface of an overload id. The priority is part of a ternary match, so an entry's match spec
// changes when its rule moves to another block of hardware priorities.

#include "chip/P4Tables.h"
#include "host/IpTypes.h"

#include <compare>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace VyrNat {

using Ip::IpAddrWithFullMask;
// Interfaces are named by the host ("NatProfile3", "Ethernet1").
using IntfId = std::string;

// One installed trap ACL: the ACL's name, its group (0 for dynamic NAT) and its NAT profile.
struct HwNatCpuTrapAclKey {
    std::string acl;
    uint32_t group = 0;
    uint16_t profile = 0;

    explicit operator bool() const { return !acl.empty() || group != 0 || profile != 0; }
    // "Value('VyrNat::HwNatCpuTrapAclKey', ** {'acl': %s, 'group': %u, 'profile': %u})"
    std::string str() const;
    bool operator==(const HwNatCpuTrapAclKey&) const = default;
    // By ACL, then profile, then group.
    std::strong_ordering operator<=>(const HwNatCpuTrapAclKey& o) const;
};

// One written entry of a rule, with the match it was written for. The flags say which helper
// entry belongs to it: a forward entry holds a reference on its dynamic SNAT ACL entry (where
// that table exists), a reverse full-cone entry one on its full-cone entry.
struct HwNatCpuTrapAclEntry {
    VyrP4::NatCpuTrapAclMatchSpec matchSpec;
    IpAddrWithFullMask src;
    IpAddrWithFullMask dst;
    uint16_t sport = 0;
    uint16_t sportMask = 0;
    uint16_t dport = 0;
    uint16_t dportMask = 0;
    uint8_t protocol = 0;
    bool fullCone = false;
    bool reverse = false;
    bool deny = false; // the entry takes no trap action (OnMiss)
};

// The entries written for one rule.
class HwNatCpuTrapAcl {
public:
    const std::vector<HwNatCpuTrapAclEntry>& trapAclEntries() const { return entries_; }
    std::vector<HwNatCpuTrapAclEntry>& trapAclEntries() { return entries_; }
    void trapAclEntriesIs(HwNatCpuTrapAclEntry e) { entries_.push_back(std::move(e)); }
    void trapAclEntriesDel(const VyrP4::NatCpuTrapAclMatchSpec& ms);
    void trapAclEntriesDelAll() { entries_.clear(); }

private:
    std::vector<HwNatCpuTrapAclEntry> entries_;
};

// The reverse traps of one overload id, one per interface.
class HwNatCpuTrapAclOverload {
public:
    const std::unordered_map<IntfId, VyrP4::NatCpuTrapAclMatchSpec>& entry() const {
        return entries_;
    }
    const VyrP4::NatCpuTrapAclMatchSpec* entry(const IntfId& intf) const;
    void entryIs(const IntfId& intf, const VyrP4::NatCpuTrapAclMatchSpec& ms) {
        entries_[intf] = ms;
    }
    void entryDel(const IntfId& intf) { entries_.erase(intf); }
    void entryDelAll() { entries_.clear(); }

private:
    std::unordered_map<IntfId, VyrP4::NatCpuTrapAclMatchSpec> entries_;
};

using HwNatCpuTrapAclMap = std::map<HwNatCpuTrapAclKey, HwNatCpuTrapAcl>;

// One row of the trap ACL listing: by ACL name (an overload reverse trap's interface), then
// hardware priority, then match.
struct HwNatCpuTrapCliKey {
    std::string acl;
    int32_t priority = 0;
    VyrP4::NatCpuTrapAclMatchSpec matchSpec;
    auto operator<=>(const HwNatCpuTrapCliKey&) const = default;
};
// The listing's rows in order, each with whether its entry traps (false: a deny rule's entry).
using HwNatCpuTrapCliSorter = std::map<HwNatCpuTrapCliKey, bool>;
using HwNatCpuTrapAclOverloadMap = std::map<uint32_t, HwNatCpuTrapAclOverload>;

} // namespace VyrNat

template <> struct std::hash<VyrNat::HwNatCpuTrapAclKey> {
    std::size_t operator()(const VyrNat::HwNatCpuTrapAclKey& k) const noexcept {
        return std::hash<std::string>()(k.acl) ^ (std::size_t(k.group) << 16 | k.profile);
    }
};
