#pragma once
// The records of the twice-NAT CPU trap ACLs. A trap rule is split in two stages: the ACL-id
// stage classifies one side of a packet (source or destination) into the small id of the rule's
// ACL, and the trap stage matches the NAT profile, that id and the other side, and traps. One ACL
// name has one id and one ACL-id entry per rule; the (group, profile) pairs using it keep it.

#include "chip/P4Tables.h"
#include "host/IpTypes.h"

#include <compare>
#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace VyrNat {

struct HwTwiceNatAclIdKey {
    uint32_t group = 0;
    uint16_t profile = 0;
    std::string str() const;
    auto operator<=>(const HwTwiceNatAclIdKey&) const = default;
};

// One rule's match as the ACL-id stage keys it: both prefixes with their masks, both ports with
// their masks, the protocol, and the side the ACL-id entry matches. A connection tuple has no
// masks, so two rules differing only in prefix lengths or port masks would look the same; and a
// rule used in both directions matches a different side in each.
struct TwiceNatAclRule {
    bool ingress = false; // the ACL-id entry matches the destination side
    uint8_t protocol = 0;
    Ip::IpAddrWithFullMask src;
    Ip::IpAddrWithFullMask dst;
    uint16_t sport = 0;
    uint16_t sportMask = 0;
    uint16_t dport = 0;
    uint16_t dportMask = 0;
    std::string str() const;
    auto operator<=>(const TwiceNatAclRule&) const = default;
};

// The id of one ACL name, its entries in "twiceNatAclId" and the trap rules using it.
struct HwTwiceNatAclId {
    std::string name;
    uint16_t aclId = 0;
    std::map<TwiceNatAclRule, VyrP4::TwiceNatAclIdMatchSpec> entry;
    std::set<HwTwiceNatAclIdKey> group;

    void entryIs(const TwiceNatAclRule& rule, const VyrP4::TwiceNatAclIdMatchSpec& ms) {
        entry[rule] = ms;
    }
    void entryDel(const TwiceNatAclRule& rule) { entry.erase(rule); }
    void entryDelAll() { entry.clear(); }
    void groupIs(const HwTwiceNatAclIdKey& k) { group.insert(k); }
    void groupDel(const HwTwiceNatAclIdKey& k) { group.erase(k); }
    void groupDelAll() { group.clear(); }
    // Whether another rule of the ACL already holds the entry `ms`.
    bool holds(const VyrP4::TwiceNatAclIdMatchSpec& ms) const;
};

struct HwTwiceNatCpuTrapAclKey {
    std::string acl;
    uint32_t group = 0;
    uint16_t profile = 0;
    explicit operator bool() const { return !acl.empty(); }
    std::string str() const;
    auto operator<=>(const HwTwiceNatCpuTrapAclKey&) const = default;
};

struct HwTwiceNatCpuTrapAcl {
    HwTwiceNatCpuTrapAclKey key;
    uint16_t aclId = 0;
    VyrP4::TwiceNatCpuTrapAclMatchSpec matchSpec;
};

} // namespace VyrNat
