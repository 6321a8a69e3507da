#pragma once
// The NAT status that the control plane publishes (what must be translated) and the NAT
// hardware status that the hardware side publishes back (what is programmed).

#include "host/Entity.h"
#include "host/IpTypes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Ip::Nat {

// Identifies a static translation on its interface.
struct StaticKey {
    IpAndPort local;     // the inside address and port
    std::string aclName; // the access list limiting the rule; empty for none
    uint8_t target = 0;  // kEgressTarget: the translation belongs to the egress static tables

    static constexpr uint8_t kEgressTarget = 1;
    bool egressTarget() const { return target == kEgressTarget; }
    auto operator<=>(const StaticKey&) const = default;
    std::string str() const;
};

// 0 translates the source; any other value the destination.
using NatTarget = uint8_t;
constexpr NatTarget kSourceTranslation = 0;
constexpr NatTarget kDestinationTranslation = 1;

struct NatStaticConnection {
    IpAndPort global; // the outside address and port
    NatTarget natTarget = kSourceTranslation;
    uint8_t protocol = 0;
    // Configured on the ingress interface; a source translation there, or a destination
    // translation on egress, works in the reverse direction.
    bool ingress = false;
    // The peer prefixes the rule is limited to, ascending.
    std::vector<IpAddrWithFullMask> filterAddrs;

    bool sourceTranslation() const { return natTarget == kSourceTranslation; }
    bool operator==(const NatStaticConnection&) const = default;
};

// A CPU trap rule's ACL: its name and, for twice NAT, its group (0 for dynamic NAT).
struct DynamicKey {
    std::string acl;
    uint16_t group = 0;
    auto operator<=>(const DynamicKey&) const = default;
    std::string str() const;
};

// One rule of an access list that selects the packets of a dynamic NAT rule. Rules are matched
// in ascending sequence number, the first match deciding; a port range 0-0 matches any port.
struct AclRule {
    uint32_t seqNum = 0;
    bool deny = false;
    uint8_t protocol = 0; // 0: any
    IpAddrWithFullMask src;
    IpAddrWithFullMask dst;
    uint16_t srcPortStart = 0;
    uint16_t srcPortEnd = 0;
    uint16_t dstPortStart = 0;
    uint16_t dstPortEnd = 0;

    bool anyPort() const { return !srcPortStart && !srcPortEnd && !dstPortStart && !dstPortEnd; }
    // Permits every packet.
    bool permitsAll() const { return !deny && !protocol && !src.mask && !dst.mask && anyPort(); }
    bool operator==(const AclRule&) const = default;
};

// An access list's rules, in ascending sequence number.
using AclRules = std::vector<AclRule>;

// A dynamic NAT rule of a NAT profile: the packets its ACL selects are translated from a pool,
// or to the address of the profile's interface ("overload") when no pool is named.
struct DynamicNatRule {
    NatTarget target = kSourceTranslation;
    std::string pool; // empty: overload
    bool fullCone = false;
    bool addrOnly = false;
    uint32_t priority = 0; // among the profile's rules; a smaller one wins
    bool operator==(const DynamicNatRule&) const = default;
};

// One interface's NAT status. NAT profile interfaces are named "NatProfile<id>".
class IntfStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Ip::Nat::IntfStatus")
    Ert::Collection<StaticKey, NatStaticConnection> staticConnection{this, "staticConnection"};
    Ert::Attr<uint32_t> vrfId{this, "vrfId"};
    // The interfaces the NAT configuration of this interface or profile applies to.
    Ert::Collection<std::string, bool> validIntf{this, "validIntf"};
    Ert::Collection<DynamicKey, DynamicNatRule> dynamicRule{this, "dynamicRule"};
};

struct VrfPolicer {
    uint32_t rate = 0;
    uint32_t burst = 0;
    bool operator==(const VrfPolicer&) const = default;
};

// Translations between the default VRF and one other VRF, and that VRF's policer.
class VrfStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Ip::Nat::VrfStatus")
    Ert::Attr<uint32_t> vrfId{this, "vrfId"};
    Ert::Collection<IpAddr, IpAddr> staticSrc{this, "staticSrc"}; // inside source to new source
    Ert::Collection<IpAddr, IpAddr> staticDst{this, "staticDst"}; // outside dest to new dest
    Ert::Attr<std::optional<VrfPolicer>> policer{this, "policer"};
};

// A VLAN's NAT profile.
struct NatProfileBinding {
    uint16_t profile = 0;
    std::string vrfName;
    bool operator==(const NatProfileBinding&) const = default;
};

// What a trap rule traps for: the NAT profile, the kind of translation and the rule's place
// among the ACL's rules.
struct NatTrapInfo {
    uint32_t profileId = 0;
    bool fullCone = false;
    bool addrOnly = false;
    uint32_t prio = 0;   // the ACL rule's priority; a smaller one wins
    uint32_t poolId = 0; // 0: translated to the address of the profile's interface (overload)
    NatTarget target = kSourceTranslation;
    uint16_t connMark = 0;
    // The direction flag: a destination translation traps packets as they come in.
    bool ingress() const { return target == kDestinationTranslation; }
    bool operator==(const NatTrapInfo&) const = default;
};

// What the hardware reports of a twice-NAT translation.
enum class NatHwResult : uint8_t {
    success = 0,
    failure = 1,   // nothing of it is left programmed
    duplicate = 2, // the untranslated addresses and ports translate otherwise already
};

// A twice-NAT translation: the untranslated source and destination (port 0: address only),
// with the protocol, NAT profile and VRF it applies to.
struct TwiceNatKey {
    IpAndPort srcOld;
    IpAndPort dstOld;
    uint8_t protocol = 0;
    uint16_t profile = 0;
    VrfId vrf = 0;
    auto operator<=>(const TwiceNatKey&) const = default;
    std::string str() const;
};

struct TwiceNatTranslation {
    IpAndPort srcNew;
    IpAndPort dstNew;
    uint32_t nextHop = 0; // the next-hop word (bit 31: ECMP group); 0 for none
    bool dynamic = false; // made by the software NAT path, aged like a dynamic connection
    bool forward = true;
    uint16_t group = 0;
    bool ingress = true;
    bool operator==(const TwiceNatTranslation&) const = default;
};

// The match of a NAT flow: prefixes and port ranges of both sides, the IP protocol (0: any)
// and the flow's priority among overlapping flows.
struct NatFlow {
    Prefix src;
    uint16_t srcPortStart = 0;
    uint16_t srcPortEnd = 0;
    Prefix dst;
    uint16_t dstPortStart = 0;
    uint16_t dstPortEnd = 0;
    uint8_t protocol = 0;
    uint16_t priority = 0;
    bool operator==(const NatFlow&) const = default;
};

// A NAT flow is named by its NAT profile, policy and match.
struct NatFlowKey {
    uint16_t profile = 0;
    std::string policy;
    std::string match;
    auto operator<=>(const NatFlowKey&) const = default;
    std::string str() const;
};

// What a flow's packets get: the unicast and the multicast group.
struct NatFlowEntry {
    NatFlow flow;
    uint32_t groupUc = 0;
    uint32_t groupMc = 0;
    bool operator==(const NatFlowEntry&) const = default;
};

class Status : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Ip::Nat::Status")
    Ert::Collection<std::string, Ert::Ptr<VrfStatus>> vrfStatus{this, "vrfStatus"};
    Ert::Collection<std::string, Ert::Ptr<IntfStatus>> intfStatus{this, "intfStatus"};
    Ert::Collection<uint16_t, NatProfileBinding> vlanNatProfile{this, "vlanNatProfile"};
    Ert::Collection<TwiceNatKey, TwiceNatTranslation> twiceNat{this, "twiceNat"};
    Ert::Collection<NatFlowKey, NatFlowEntry> natFlow{this, "natFlow"};
    // The access lists and address pools that dynamic NAT rules name; a pool by its id.
    Ert::Collection<std::string, AclRules> acl{this, "acl"};
    Ert::Collection<std::string, uint32_t> pool{this, "pool"};
};

// What is programmed on one interface: each static translation, programmed or not.
class HwIntfStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Ip::Nat::HwIntfStatus")
    Ert::Collection<StaticKey, bool> staticConnection{this, "staticConnection"};
    // Why a translation is not programmed, where the hardware said.
    Ert::Collection<StaticKey, std::string> reason{this, "reason"};
    // Whether each dynamic NAT rule's CPU traps are in hardware, and why not.
    Ert::Collection<DynamicKey, bool> dynamicRule{this, "dynamicRule"};
    Ert::Collection<DynamicKey, std::string> dynamicRuleReason{this, "dynamicRuleReason"};
};

class HwVrfStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Ip::Nat::HwVrfStatus")
    Ert::Collection<IpAddr, bool> staticSrc{this, "staticSrc"};
    Ert::Collection<IpAddr, bool> staticDst{this, "staticDst"};
    Ert::Attr<std::optional<bool>> policer{this, "policer"};
    // Why a translation or the policer is not programmed, where the hardware said.
    Ert::Collection<IpAddr, std::string> staticSrcReason{this, "staticSrcReason"};
    Ert::Collection<IpAddr, std::string> staticDstReason{this, "staticDstReason"};
    Ert::Attr<std::string> policerReason{this, "policerReason"};
};

class HwStatus : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Ip::Nat::HwStatus")
    Ert::Collection<std::string, Ert::Ptr<HwVrfStatus>> vrfStatus{this, "vrfStatus"};
    Ert::Collection<std::string, Ert::Ptr<HwIntfStatus>> intfStatus{this, "intfStatus"};
    // Twice-NAT translations and NAT flows, programmed or not, and why not.
    Ert::Collection<TwiceNatKey, bool> twiceNat{this, "twiceNat"};
    Ert::Collection<TwiceNatKey, std::string> twiceNatReason{this, "twiceNatReason"};
    // When the hardware last saw a programmed dynamic translation used (loop time in
    // milliseconds), or when it was programmed if never.
    Ert::Collection<TwiceNatKey, uint64_t> twiceNatLastActive{this, "twiceNatLastActive"};
    Ert::Collection<NatFlowKey, bool> natFlow{this, "natFlow"};
    Ert::Collection<NatFlowKey, std::string> natFlowReason{this, "natFlowReason"};
    void intfStatusDelAll() { intfStatus.clear(); }
    void vrfStatusDelAll() { vrfStatus.clear(); }
};

} // namespace Ip::Nat
